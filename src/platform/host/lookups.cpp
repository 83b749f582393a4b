#include "lookups.h"

#include <algorithm>
#include <set>

#include "platform/data/dataset.h"
#include "platform/rtl/format.h"
#include "platform/ui/controls.h"

namespace host {

const char* const kRegNaoEncontrado = "Registro não encontrado.";
const char* const kNaoHaRegistros = "Não há registros.";

namespace {

struct TitleAndEmpty {
  std::string title;
  std::string empty;
};

TitleAndEmpty splitText(std::string_view text) {
  size_t bar = text.find('|');
  if (bar == std::string_view::npos) return {std::string(text), {}};
  return {std::string(text.substr(0, bar)), std::string(text.substr(bar + 1))};
}

data::TClientDataSet& dataSetOf(data::TDataSource* ds, const char* who) {
  if (!ds || !ds->DataSet()) throw rtl::Exception(std::string(who) + ": the lookup has no data set");
  return *ds->DataSet();
}

ui::ILookupDialog& lookupService() {
  ui::ILookupDialog* d = ui::Application().services().Lookup;
  if (!d) throw ui::EInvalidOperation("No lookup dialog is available");
  return *d;
}

ILookupDialogEx& lookupServiceEx(const char* what) {
  auto* d = dynamic_cast<ILookupDialogEx*>(&lookupService());
  if (!d) throw ui::EInvalidOperation(std::string("The lookup service offers no ") + what);
  return *d;
}

void tell(const std::string& text) {
  if (!text.empty()) ui::MessageDlg(text, ui::TMsgDlgType::Information, ui::mbOK, 0);
}

}  // namespace

// ---------------------------------------------------------------------------
ScriptedLookupEx::ScriptedLookupEx(ui::ScriptedLookup& picks, ui::Services& services)
    : picks_(picks), services_(services), previous_(services.Lookup) {
  services_.Lookup = this;
}

ScriptedLookupEx::~ScriptedLookupEx() {
  if (services_.Lookup == this) services_.Lookup = previous_;
}

bool ScriptedLookupEx::Pick(const ui::LookupRequest& request) { return picks_.Pick(request); }

std::optional<SearchAnswer> ScriptedLookupEx::Search(const SearchRequest& request) {
  Searches.push_back(request);
  if (searches_.empty()) throw ui::EScriptError("No answer queued for the search: " + request.Title);
  std::optional<SearchAnswer> a = searches_.front();
  searches_.erase(searches_.begin());
  if (a && a->Field.empty()) a->Field = request.Field;
  return a;
}

bool ScriptedLookupEx::PickMany(const ListRequest& request, std::vector<int>& chosen) {
  Lists.push_back(request);
  data::TClientDataSet& ds = dataSetOf(request.DataSource, "PickMany");
  if (ds.IsEmpty()) {
    tell(request.EmptyText);
    return false;
  }
  if (lists_.empty()) throw ui::EScriptError("No answer queued for the list: " + request.Title);
  std::optional<std::vector<int>> a = lists_.front();
  lists_.erase(lists_.begin());
  if (!a) return false;
  for (int r : *a)
    if (r < 1 || r > ds.RecordCount()) throw ui::EScriptError("The queued list row does not exist: " + std::to_string(r));
  chosen = *a;
  return true;
}

void ScriptedLookupEx::QueueSearch(std::string text, std::string field) {
  searches_.push_back(SearchAnswer{std::move(field), std::move(text)});
}
void ScriptedLookupEx::QueueSearchCancel() { searches_.push_back(std::nullopt); }
void ScriptedLookupEx::QueuePickMany(std::vector<int> recNos) { lists_.push_back(std::move(recNos)); }
void ScriptedLookupEx::QueuePickManyCancel() { lists_.push_back(std::nullopt); }

// ---------------------------------------------------------------------------
bool Pesquisar(data::TDataSource* dataSource, std::string_view text, bool restoreOnCancel, bool showEmptyText) {
  data::TClientDataSet& ds = dataSetOf(dataSource, "Pesquisar");
  if (!ds.Active()) ds.Open();
  TitleAndEmpty t = splitText(text);
  if (ds.IsEmpty()) {
    if (showEmptyText) tell(t.empty);
    return false;
  }
  ui::LookupRequest req;
  req.DataSource = dataSource;
  req.Title = t.title;
  req.EmptyText = showEmptyText ? t.empty : std::string();
  data::TBookmark before = ds.GetBookmark();
  bool picked = lookupService().Pick(req);
  if (!picked && restoreOnCancel && ds.BookmarkValid(before)) ds.GotoBookmark(before);
  return picked;
}

std::vector<std::string> SplitLista(std::string_view list) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    std::string_view part = list.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
    std::string code = rtl::Trim(part);
    if (!code.empty()) out.push_back(std::move(code));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return out;
}

bool PesquisaLista(data::TDataSource* dataSource, std::string_view keyField, std::string_view text,
                   bool allWhenEmpty, std::string& list) {
  data::TClientDataSet& ds = dataSetOf(dataSource, "PesquisaLista");
  if (!ds.Active()) ds.Open();
  data::TField& key = ds.FieldByName(keyField);
  TitleAndEmpty t = splitText(text);
  if (ds.IsEmpty()) {
    tell(t.empty);
    return false;
  }
  int n = ds.RecordCount();
  std::vector<std::string> codes(static_cast<size_t>(n));
  for (int r = 1; r <= n; ++r) codes[static_cast<size_t>(r - 1)] = rtl::Trim(ds.RecordValue(r, key).toString());

  ListRequest req;
  req.DataSource = dataSource;
  req.Title = t.title;
  req.EmptyText = t.empty;
  req.KeyField = key.FieldName();
  std::vector<std::string> previous = SplitLista(list);
  if (previous.empty() && allWhenEmpty) {
    for (int r = 1; r <= n; ++r) req.Checked.push_back(r);
  } else {
    std::set<std::string> prev(previous.begin(), previous.end());
    for (int r = 1; r <= n; ++r)
      if (prev.count(codes[static_cast<size_t>(r - 1)])) req.Checked.push_back(r);
  }

  std::vector<int> chosen;
  if (!lookupServiceEx("multiple choice").PickMany(req, chosen)) return false;
  std::sort(chosen.begin(), chosen.end());
  chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
  std::string result;
  for (int r : chosen) {
    if (r < 1 || r > n) throw rtl::Exception("PesquisaLista: row " + std::to_string(r) + " does not exist");
    const std::string& code = codes[static_cast<size_t>(r - 1)];
    // A comma inside a code would split it in two when the list is bound.
    if (code.empty() || code.find(',') != std::string::npos)
      throw rtl::Exception("PesquisaLista: the code \"" + code + "\" of " + key.FieldName() + " cannot be listed");
    if (!result.empty()) result += ',';
    result += code;
  }
  list = std::move(result);
  return true;
}

// ---------------------------------------------------------------------------
bool Procura(data::TClientDataSet& ds, std::string_view field) {
  if (!ds.Active() || ds.IsEmpty()) {
    tell(kNaoHaRegistros);
    return false;
  }
  SearchRequest req;
  req.DataSet = &ds;
  req.Title = "Procurar";
  for (size_t i = 0; i < ds.FieldCount(); ++i) {
    data::TField& f = ds.Fields(i);
    if (f.Visible) req.Fields.push_back(f.FieldName());
  }
  if (!field.empty()) {
    if (data::TField* f = ds.FindField(field)) req.Field = f->FieldName();
  }
  if (req.Field.empty() && !req.Fields.empty()) req.Field = req.Fields.front();

  std::optional<SearchAnswer> a = lookupServiceEx("search dialog").Search(req);
  if (!a) return false;
  data::TField& f = ds.FieldByName(a->Field);
  data::TLocateOptions opt;
  rtl::Variant value;
  switch (f.DataType()) {
    case data::TFieldType::String:
      if (a->Text.empty()) return false;
      value = rtl::Variant(a->Text);
      opt.CaseInsensitive = true;
      opt.PartialKey = true;
      break;
    case data::TFieldType::Float:
    case data::TFieldType::Integer: {
      double d = 0;
      if (!rtl::TryStrToFloat(rtl::Trim(a->Text), d))
        throw rtl::Exception("\"" + a->Text + "\" não é um número válido para " + f.DisplayLabel() + ".");
      value = rtl::Variant(d);
      break;
    }
    case data::TFieldType::DateTime: {
      rtl::TDateTime d = 0;
      if (!rtl::TryStrToDate(rtl::Trim(a->Text), d))
        throw rtl::Exception("\"" + a->Text + "\" não é uma data válida para " + f.DisplayLabel() + ".");
      value = rtl::Variant::FromDate(d);
      break;
    }
    case data::TFieldType::Boolean:
      value = rtl::Variant(rtl::SameText(rtl::Trim(a->Text), "True") || rtl::SameText(rtl::Trim(a->Text), "S"));
      break;
  }
  if (ds.Locate(f.FieldName(), value, opt)) return true;
  tell(kRegNaoEncontrado);
  return false;
}

// ---------------------------------------------------------------------------
int IndiceCol(const ui::TDBGrid& grid, std::string_view field) {
  for (int i = 0; i < grid.ColumnCount(); ++i)
    if (rtl::SameText(grid.Columns(i).FieldName, field)) return i;
  return -1;
}

namespace {
ui::TWinControl* focusIn(ui::TWinControl* c) {
  if (!c) return nullptr;
  if (ui::TCustomForm* form = c->ParentForm())
    form->FocusControl(c);
  else
    c->SetFocus();
  return c;
}
}  // namespace

ui::TWinControl* SelectFirstControl(ui::TWinControl* container) {
  if (!container) return nullptr;
  std::vector<ui::TWinControl*> list;
  container->GetTabOrderList(list);
  for (bool tabStops : {true, false})
    for (ui::TWinControl* c : list)
      if ((!tabStops || c->TabStop) && c->CanFocus()) return focusIn(c);
  if (container->CanFocus() && !dynamic_cast<ui::TCustomForm*>(container)) return focusIn(container);
  return nullptr;
}

ui::TWinControl* SelectNextControl(ui::TWinControl* current, bool goForward, bool checkTabStop, bool checkParent) {
  if (!current) return nullptr;
  ui::TCustomForm* form = current->ParentForm();
  if (!form) return nullptr;
  ui::TWinControl* next = form->FindNextControl(current, goForward, checkTabStop, checkParent);
  if (!next || next == current) return nullptr;
  return focusIn(next);
}

ui::TWinControl* SelectNextControl(ui::TCustomForm& form, ui::TWinControl* control, bool goForward) {
  ui::TWinControl* next = form.FindNextControl(control, goForward, true, false);
  if (!next) return nullptr;
  return focusIn(next);
}

}  // namespace host
