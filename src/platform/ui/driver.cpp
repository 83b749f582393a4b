#include "platform/ui/driver.h"

namespace ui {

std::vector<TChar> DecodeUtf8(std::string_view s) {
  std::vector<TChar> out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : 4;
    TChar v = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; k < len && i + static_cast<size_t>(k) < s.size(); ++k)
      v = (v << 6) | (static_cast<unsigned char>(s[i + static_cast<size_t>(k)]) & 0x3F);
    out.push_back(v);
    i += static_cast<size_t>(len);
  }
  return out;
}

Driver::Driver() { previous_ = Application().SetServices(&services_.services()); }

Driver::~Driver() {
  Application().DestroyForms();
  Application().SetServices(previous_);
  Screen().SetCursor(TCursor::Default);
}

void Driver::act(const std::function<void()>& action) { Application().Perform(action); }

bool Driver::reach(TControl& c) const { return c.Showing() && c.EnabledInTree() && !blocked(c); }

bool Driver::blocked(const TControl& c) const {
  TCustomForm* modal = Screen().ModalForm();
  return modal && c.ParentForm() != modal;
}

void Driver::activateFormOf(TControl& c) {
  TCustomForm* f = c.ParentForm();
  if (f && !f->Active()) f->Show();
}

bool Driver::focus(TWinControl& c) {
  if (!c.CanFocus() || blocked(c)) return false;
  act([&] { c.SetFocus(); });
  return c.Focused();
}

void Driver::type(std::string_view text) {
  for (TChar c : DecodeUtf8(text)) Application().TypeChar(c);
}

void Driver::press(Word key, TShiftState shift) { Application().PressKey(key, shift); }

bool Driver::click(TButton& b) {
  if (!b.CanFocus() || blocked(b)) return false;
  bool reached = false;
  act([&] {
    b.SetFocus();  // a button takes the focus before it acts
    if (!b.Focused()) return;
    reached = true;
    b.Click();
  });
  return reached;
}

bool Driver::click(TButtonFlat& b) {
  if (!reach(b)) return false;
  act([&] {
    activateFormOf(b);
    b.Click();
  });
  return true;
}

bool Driver::click(TBtnPesquisa& b) {
  if (!reach(b)) return false;
  act([&] {
    activateFormOf(b);
    b.Click();
  });
  return true;
}

bool Driver::click(TMenuItem& item) {
  // A menu of another form than the running modal one is out of reach.
  if (TCustomForm* modal = Screen().ModalForm()) {
    TComponent* o = item.Owner();
    while (o && !dynamic_cast<TCustomForm*>(o)) o = o->Owner();
    if (o != modal) return false;
  }
  for (TMenuItem* i = &item; i; i = i->Parent())
    if (!i->Visible() || !i->Enabled()) return false;
  act([&] { item.Click(); });
  return true;
}

bool Driver::click(TCheckBox& b) {
  if (!b.CanFocus() || blocked(b)) return false;
  act([&] {
    b.SetFocus();
    if (b.Focused()) b.SetChecked(!b.Checked());
  });
  return b.Focused();
}

bool Driver::click(TRadioButton& b) {
  if (!b.CanFocus() || blocked(b)) return false;
  act([&] {
    b.SetFocus();
    if (b.Focused()) b.SetChecked(true);
  });
  return b.Focused();
}

bool Driver::click(TLabel& l) {
  if (!reach(l) || !l.FocusControl || !l.FocusControl->CanFocus()) return false;
  act([&] { l.Activate(); });
  return true;
}

bool Driver::click(TDBNavigator& nav, TNavigateBtn button) {
  if (!reach(nav) || !nav.ButtonEnabled(button)) return false;
  act([&] {
    activateFormOf(nav);
    nav.Click(button);
  });
  return true;
}

bool Driver::clickCell(TDBGrid& grid, int recNo, int column) {
  if (!grid.CanFocus() || blocked(grid)) return false;
  act([&] { grid.ClickCell(recNo, column); });
  return grid.Focused();
}

bool Driver::clickEditButton(TDBGrid& grid) {
  TColumn* c = grid.SelectedColumn();
  if (!grid.Focused() || !c || c->ButtonStyle != TColumnButtonStyle::Ellipsis) return false;
  act([&] { grid.ClickEditButton(); });
  return true;
}

bool Driver::pick(TPageControl& pc, TTabSheet& page) {
  if (blocked(pc)) return false;
  bool changed = false;
  act([&] { changed = pc.SelectPage(&page); });
  return changed;
}

bool Driver::select(TComboBox& box, int index) {
  if (!box.CanFocus() || blocked(box)) return false;
  act([&] {
    box.SetFocus();
    if (box.Focused()) box.Select(index);
  });
  return box.Focused();
}

bool Driver::select(TRadioGroup& group, int index) {
  if (!group.CanFocus() || blocked(group)) return false;
  act([&] {
    group.SetFocus();
    if (group.Focused()) group.SetItemIndex(index);
  });
  return group.Focused();
}

void Driver::close(TCustomForm& form) { act([&] { form.Close(); }); }

std::string Driver::focusedName() const {
  TWinControl* f = focused();
  return f ? f->Name() : std::string();
}

std::string Driver::text(const TControl& c) {
  if (auto* m = dynamic_cast<const TMaskEdit*>(&c)) return m->EditText();
  if (auto* e = dynamic_cast<const TCustomEdit*>(&c)) return e->Text();
  if (auto* t = dynamic_cast<const TDBText*>(&c)) return t->Text();
  if (auto* b = dynamic_cast<const TComboBox*>(&c)) return b->Text();
  return c.Caption();
}

std::vector<std::string> Driver::gridRow(const TDBGrid& g) {
  std::vector<std::string> out;
  for (int i = 0; i < g.ColumnCount(); ++i) out.push_back(g.CellText(i));
  return out;
}

}  // namespace ui
