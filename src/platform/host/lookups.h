#pragma once
// Lookup and search dialogs of the shared client library (Pesquisar,
// PesquisaLista, Procura) and the focus helpers (IndiceCol, SelectFirstControl,
// SelectNextControl). The dialogs go through the host's lookup service.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/dbgrids.h"
#include "platform/ui/services.h"

namespace data {
class TClientDataSet;
class TDataSource;
}  // namespace data

namespace host {

// ---------------------------------------------------------------------------
// What the lookup service offers beyond picking one row. A host's lookup
// service that implements this (found through Services::Lookup) serves the
// search dialog and the multiple-choice list as well.
struct SearchRequest {
  data::TClientDataSet* DataSet = nullptr;
  std::string Title;
  std::vector<std::string> Fields;  // the fields the user may search, in grid order
  std::string Field;                // the field offered first
};

struct SearchAnswer {
  std::string Field;
  std::string Text;
};

struct ListRequest {
  data::TDataSource* DataSource = nullptr;
  std::string Title;
  std::string EmptyText;
  std::string KeyField;
  std::vector<int> Checked;  // 1-based rows ticked when the list opens
};

class ILookupDialogEx : public ui::ILookupDialog {
public:
  // The value the user typed and the field it is for; nullopt when cancelled.
  virtual std::optional<SearchAnswer> Search(const SearchRequest& request) = 0;
  // The rows ticked when the user confirmed (1-based, any order); false when
  // cancelled or the list was empty (the empty text is shown then).
  virtual bool PickMany(const ListRequest& request, std::vector<int>& chosen) = 0;
};

// Scripted version: single picks go to the toolkit's scripted lookup (so a
// test's lookupPicks/lookupCancels keep working); searches and lists take
// answers queued here. Installs itself as the lookup service while it lives.
class ScriptedLookupEx : public ILookupDialogEx {
public:
  ScriptedLookupEx(ui::ScriptedLookup& picks, ui::Services& services);
  ~ScriptedLookupEx() override;
  ScriptedLookupEx(const ScriptedLookupEx&) = delete;
  ScriptedLookupEx& operator=(const ScriptedLookupEx&) = delete;

  bool Pick(const ui::LookupRequest& request) override;
  std::optional<SearchAnswer> Search(const SearchRequest& request) override;
  bool PickMany(const ListRequest& request, std::vector<int>& chosen) override;

  // An empty field name searches the field the dialog offered first.
  void QueueSearch(std::string text, std::string field = {});
  void QueueSearchCancel();
  void QueuePickMany(std::vector<int> recNos);
  void QueuePickManyCancel();

  std::vector<SearchRequest> Searches;
  std::vector<ListRequest> Lists;

private:
  ui::ScriptedLookup& picks_;
  ui::Services& services_;
  ui::ILookupDialog* previous_;
  std::vector<std::optional<SearchAnswer>> searches_;
  std::vector<std::optional<std::vector<int>>> lists_;
};

// ---------------------------------------------------------------------------
// The lookup of a data source's rows. text is the title, a bar, and the text
// shown when there is nothing to list ("Serviço|Não há serviço..."). A closed
// data set is opened first (a query runs its SQL). Returns whether the user
// picked a row; the data set then stands on it. restoreOnCancel puts the
// cursor back where it stood when the user cancels; showEmptyText false
// returns false on an empty list without telling the user.
bool Pesquisar(data::TDataSource* dataSource, std::string_view text, bool restoreOnCancel = false,
               bool showEmptyText = true);

// The multiple choice of a data source's rows by a key field. list holds the
// previous choice (its codes start ticked; with allWhenEmpty an empty list
// starts with every row ticked) and receives the new one: the chosen key
// values, trimmed, in the data set's order, separated by commas ("00001,00003").
// The list is a value for a query parameter, to be split with SplitLista and
// bound value by value, never put into SQL text. Returns false when the user
// cancelled or there was nothing to choose; list is then unchanged. A key value
// that is empty or holds a comma raises rtl::Exception and leaves list as it was.
bool PesquisaLista(data::TDataSource* dataSource, std::string_view keyField, std::string_view text,
                   bool allWhenEmpty, std::string& list);

// The codes of a list made by PesquisaLista.
std::vector<std::string> SplitLista(std::string_view list);

// The search dialog: the user types a value for one of the data set's visible
// fields and the data set moves to the first row that matches (a text field
// matches by its start, without regard to case; numbers and dates exactly).
// field names the field offered first (empty: the first visible one). When no
// row matches, the user is told and the cursor stays. A value that is no
// number or date for such a field raises rtl::Exception. Returns whether the
// cursor moved to a match.
bool Procura(data::TClientDataSet& dataSet, std::string_view field = {});

// Index of the grid's column that shows the field (case-insensitive), or -1.
int IndiceCol(const ui::TDBGrid& grid, std::string_view field);

// Focuses the first control inside container that takes the focus (tab stops
// first); returns it, or null when none can.
ui::TWinControl* SelectFirstControl(ui::TWinControl* container);

// Focuses the control next to current in its form's tab order and returns it
// (null when none can take the focus). The form's own FindNextControl rules.
ui::TWinControl* SelectNextControl(ui::TWinControl* current, bool goForward, bool checkTabStop,
                                   bool checkParent);
// Within a form: the next tab stop after control.
ui::TWinControl* SelectNextControl(ui::TCustomForm& form, ui::TWinControl* control, bool goForward);

extern const char* const kRegNaoEncontrado;  // search without a match
extern const char* const kNaoHaRegistros;    // search over an empty data set

}  // namespace host
