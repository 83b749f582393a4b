#pragma once
// "Painel do mês": for a branch, a month and a service group, one chart per
// service of the planned, served and billed headcounts per day, and beneath
// it the days that fail a check. A click on a day opens PLA01000 there.

#include <QDate>
#include <QDialog>

#include <functional>

#include "additions/month.h"

class QDateEdit;
class QLabel;
class QLineEdit;
class QTableWidget;
class QVBoxLayout;

namespace desktop {

class MonthPanel : public QDialog {
  Q_OBJECT
public:
  explicit MonthPanel(QWidget* parent = nullptr);
  void setSelection(const QString& branch, const QDate& month, const QString& group = {});
  // One read of the month; a refusal is shown in the panel.
  void load();
  const additions::MonthView& view() const { return view_; }
  // The charts and the list, as printed, into a file.
  bool savePdf(const QString& path);
  bool savePng(const QString& path);

  // Opens PLA01000 on the branch and day (set by the frame).
  std::function<void(const QString& branch, const QDate& day)> openDay;

private:
  void print();
  void saveAs();
  QImage picture();
  QLineEdit* branch_;
  QDateEdit* month_;
  QLineEdit* group_;
  QLabel* status_;
  QWidget* content_;
  QVBoxLayout* charts_;
  QTableWidget* checks_;
  additions::MonthView view_;
};

// Puts the branch and date into the open PLA01000's header and enters its
// service grid, as the clerk does, so the day loads.
void ShowDayOnScreen(const QString& branch, const QDate& day);

}  // namespace desktop
