// The desktop's first steps: the header, the grid, the listing, the screenshots.

#include "fixture.h"

using namespace desktop_test;

namespace {

TEST_F(Desktop, TypedHeaderLoadsTheServicesOfTheDayIntoTheGrid) {
  DialogWatcher dialogs;
  auto* branch = window_->findChild<QLineEdit*>("medCdFilial");
  ASSERT_NE(branch, nullptr);
  ASSERT_EQ(focus(), branch);  // the toolkit's initial focus is Qt's
  type("0001");
  key(Qt::Key_Tab);
  ASSERT_EQ(focus(), window_->findChild<QLineEdit*>("depCardapio"));
  EXPECT_EQ(branch->text(), "0001");
  type(QDate::currentDate().toString("ddMMyyyy"));
  EXPECT_EQ(focus()->property("text").toString(), QDate::currentDate().toString("dd/MM/yyyy"));
  // Leave the header.
  auto* grid = window_->findChild<QTableView*>("dbgPadrao");
  ASSERT_NE(grid, nullptr);
  for (int i = 0; i < 4 && focus() != grid; ++i) key(Qt::Key_Tab);
  ASSERT_EQ(focus(), grid) << dialogs.texts.join("\n").toStdString();
  EXPECT_TRUE(dialogs.texts.isEmpty()) << dialogs.texts.join("\n").toStdString();

  // The demo day's restaurant services, as the headless grid has them.
  auto* model = grid->model();
  ASSERT_GE(model->rowCount(), 3);
  QStringList codes;
  for (int r = 0; r < model->rowCount(); ++r) codes << model->index(r, 0).data().toString();
  EXPECT_TRUE(codes.contains("00010")) << codes.join(",").toStdString();
  EXPECT_TRUE(codes.contains("00020"));
  EXPECT_TRUE(codes.contains("00030"));
  EXPECT_EQ(model->index(codes.indexOf("00010"), 1).data().toString(), "Almoço refeitório");
  EXPECT_EQ(model->rowCount(), screen_->dbgPadrao->RowCount());
  EXPECT_EQ(grid->currentIndex().row(), screen_->dbgPadrao->Row() - 1);
  // The screen's width for a smaller font, grown to the names it shows.
  EXPECT_GE(grid->columnWidth(1), 209);
  EXPECT_GE(grid->columnWidth(1), grid->fontMetrics().horizontalAdvance(QString::fromUtf8("Almoço refeitório")));

  QApplication::processEvents();
  const QString shot = QStringLiteral(EFET_ARTIFACT_DIR) + "/pla01000.png";
  ASSERT_TRUE(window_->grab().save(shot));
  EXPECT_GT(QFileInfo(shot).size(), 10000);

  // A click on a cell selects it through the toolkit; what is typed is the
  // grid's in-place editor, shown in the cell; Escape gives the value back.
  const int row = codes.indexOf("00020");
  const QModelIndex cell = model->index(row, 2);
  const QString before = cell.data().toString();
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(cell).center());
  EXPECT_EQ(screen_->dbgPadrao->Row(), row + 1);
  EXPECT_EQ(screen_->dbgPadrao->SelectedIndex(), 2);
  EXPECT_EQ(grid->currentIndex(), cell);
  // Today's row has no counts and the demo branch no stock withdrawals for
  // today: the edit the typing starts is refused, once per key, and the row
  // stays as it was.
  type("17");
  EXPECT_EQ(model->index(row, 2).data().toString().toStdString(), screen_->dbgPadrao->CellText(2));
  EXPECT_FALSE(screen_->dbgPadrao->EditorMode());
  EXPECT_EQ(screen_->cdsCardaDia.State(), data::TDataSetState::Browse);
  ASSERT_EQ(dialogs.texts.size(), 4) << dialogs.texts.join("\n").toStdString();
  EXPECT_EQ(dialogs.texts[0], QString::fromUtf8("Não há produto baixado em estoque no dia."));
  EXPECT_EQ(dialogs.texts[1], "OK");
  key(Qt::Key_Escape);
  key(Qt::Key_Escape);
  EXPECT_EQ(model->index(row, 2).data().toString(), before);
}

TEST_F(Desktop, AnUnknownBranchIsReportedOnceAndTheFocusStays) {
  DialogWatcher dialogs;
  auto* branch = window_->findChild<QLineEdit*>("medCdFilial");
  ASSERT_EQ(focus(), branch);
  type("zz99");
  EXPECT_EQ(branch->text(), "ZZ99");  // the mask's upper case, done by the toolkit
  key(Qt::Key_Tab);
  QTest::qWait(100);
  ASSERT_EQ(dialogs.texts.size(), 2) << dialogs.texts.join("\n").toStdString();
  EXPECT_EQ(dialogs.texts[1], "OK");
  EXPECT_EQ(focus(), branch);
  EXPECT_EQ(screen_->ActiveControl(), screen_->medCdFilial);
}

TEST_F(Desktop, QtSpeaksBrazilianPortuguese) {
  EXPECT_TRUE(translated_);
  EXPECT_EQ(QLocale().toString(QDate(2026, 12, 8), QLocale::ShortFormat), "08/12/2026");
  // Qt's own dialogs (the file dialog's and the message box's buttons).
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Cancelar");
}

TEST_F(Desktop, ClosingTheWindowReleasesTheScreen) {
  auto* global = window_->package()->Variable<pla01000::TfrmMediEfetivos*>("frmMediEfetivos");
  QWidget* sub = window_->area()->activeSubWindow();
  ASSERT_NE(sub, nullptr);
  sub->close();  // the window's close button asks the form
  QApplication::processEvents();
  EXPECT_EQ(*global, nullptr);
  QApplication::processEvents();
  EXPECT_TRUE(window_->area()->subWindowList().isEmpty());
  // The menu opens a new one.
  ASSERT_TRUE(window_->open("PLA01000"));
  EXPECT_NE(*global, nullptr);
  EXPECT_EQ(window_->area()->subWindowList().size(), 1);
}

}  // namespace

namespace {

TEST_F(Desktop, TheCancelQuestionIsAnsweredAndATypedCountReachesTheServer) {
  DialogWatcher dialogs;
  QTableView* grid = loadToday(dialogs, 1);
  ASSERT_NE(grid, nullptr);
  const int row = rowOf(grid, "00030");
  ASSERT_GE(row, 0);
  data::TClientDataSet& ds = screen_->cdsCardaDia;

  // The service code's editor does not erase the code.
  clickCell(grid, row, 0);
  ASSERT_EQ(screen_->dbgPadrao->SelectedIndex(), 0);
  key(Qt::Key_F2);
  key(Qt::Key_Backspace);
  key(Qt::Key_Delete);
  EXPECT_EQ(ds.State(), data::TDataSetState::Browse);
  EXPECT_EQ(cell(grid, row, 0), "00030");

  // A count: typing starts the in-place edit, shown in the cell.
  const QString before = cell(grid, row, 2);
  ASSERT_NE(before, "23");
  clickCell(grid, row, 2);
  type("23");
  ASSERT_EQ(ds.State(), data::TDataSetState::Edit) << dialogs.texts.join("\n").toStdString();
  EXPECT_TRUE(screen_->dbgPadrao->EditorMode());
  EXPECT_EQ(cell(grid, row, 2), "23");
  EXPECT_EQ(grid->model()->headerData(row, Qt::Vertical).toString(), "I");

  // Cancel asks; "Não" keeps what was typed.
  auto* cancel = window_->findChild<QToolButton*>("sbtCancelar");
  ASSERT_NE(cancel, nullptr);
  dialogs.answer = "&Não";
  QTest::mouseClick(cancel, Qt::LeftButton);
  ASSERT_EQ(dialogs.texts.size(), 2);
  EXPECT_EQ(dialogs.texts[1], "&Sim|&Não");
  EXPECT_EQ(ds.State(), data::TDataSetState::Edit);
  EXPECT_EQ(cell(grid, row, 2), "23");

  // "Sim" gives the saved value back.
  dialogs.answer = "&Sim";
  QTest::mouseClick(cancel, Qt::LeftButton);
  ASSERT_EQ(dialogs.texts.size(), 4);
  EXPECT_EQ(dialogs.texts[2], dialogs.texts[0]);
  EXPECT_EQ(ds.State(), data::TDataSetState::Browse);
  EXPECT_EQ(cell(grid, row, 2), before);

  // Typed again and confirmed with Ctrl+Enter: the server stores it.
  clickCell(grid, row, 2);
  type("23");
  QTest::keyClick(focus(), Qt::Key_Return, Qt::ControlModifier);
  EXPECT_EQ(dialogs.texts.size(), 4) << dialogs.texts.join("\n").toStdString();
  EXPECT_EQ(ds.State(), data::TDataSetState::Browse);
  EXPECT_EQ(cell(grid, row, 2), "23");
  db::Result stored = db::dtmDBGeral.Conn().query(
      "SELECT QTCLIEFETCAR FROM CARDAPIO WHERE CDFILIAL = :P_F AND CDSERVFILI = :P_S AND DTCARDAPIO = :P_D",
      {{"P_F", rtl::Variant("0001")}, {"P_S", rtl::Variant("00030")}, {"P_D", rtl::Variant::FromDate(rtl::Date() - 1)}});
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored.at(0, "QTCLIEFETCAR").toDouble(), 23);
}

}  // namespace

namespace {

QString simplified(const std::string& s) { return QString::fromStdString(s).simplified(); }

// PLA01001 over the real report engine: the period typed, the listing
// previewed, shown in the report window, offered to the printer, closed.
TEST_F(Desktop, TheListingIsPreviewedShownAndOfferedToThePrinter) {
  DialogWatcher dialogs;  // any error box is recorded (and answered)
  DocumentTap tap;
  ModalScript script;
  const QDate first = QDate::currentDate().addDays(-18), last = QDate::currentDate().addDays(-1);
  QDialog* listing = nullptr;
  auto button = [&](const char* name) { return listing->findChild<QToolButton*>(name); };
  auto click = [&](const char* name) { return [&, name] { QTest::mouseClick(button(name), Qt::LeftButton); }; };
  auto back = [&] { return modal<QDialog>() == listing; };
  int previewPages = -1, designPages = -1;
  QString definition, reportNames;
  bool printAsked = false, listaOffered = false;

  script.wait([&] { return (listing = modal<QDialog>()) && listing->findChild<QToolButton*>("sbtPreview"); },
              [&] {
                for (auto [name, date] : {std::pair{"depDataIni", first}, std::pair{"depDataFin", last}}) {
                  QTest::mouseClick(listing->findChild<QLineEdit*>(name), Qt::LeftButton);
                  QTest::keyClicks(QApplication::focusWidget(), date.toString("ddMMyyyy"));
                }
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                // The report list, and the service choice going through the toolkit.
                auto* reports = listing->findChild<QComboBox*>("cbbReportNames");
                reportNames = reports ? reports->currentText() : "?";
                auto* lista = listing->findChild<QRadioButton*>("rbtListaServ");
                auto* servicos = listing->findChild<QWidget*>("btnServico");
                listaOffered = !servicos->isEnabled();
                QTest::mouseClick(lista, Qt::LeftButton);
                listaOffered = listaOffered && lista->isChecked() && servicos->isEnabled();
                QTest::mouseClick(listing->findChild<QRadioButton*>("rbtTodosServ"), Qt::LeftButton);
                listaOffered = listaOffered && !lista->isChecked() && !servicos->isEnabled();
              });
  script.wait([] { return true; }, click("sbtPreview"), true);
  script.wait([] { return modal<QPrintPreviewDialog>() != nullptr; }, [&] {
    auto* preview = modal<QPrintPreviewDialog>()->findChild<QPrintPreviewWidget*>();
    previewPages = preview ? preview->pageCount() : -2;
    modal<QPrintPreviewDialog>()->reject();
  });
  script.wait(back, click("sbtReportEdit"), true);
  script.wait([&] { return modal<QDialog>() && modal<QDialog>()->findChild<QPlainTextEdit*>("definitionText"); },
              [&] {
                QDialog* d = modal<QDialog>();
                definition = d->findChild<QPlainTextEdit*>("definitionText")->toPlainText();
                EXPECT_TRUE(d->findChild<QPlainTextEdit*>("definitionText")->isReadOnly());
                designPages = d->findChild<QPrintPreviewWidget*>("documentPreview")->pageCount();
                d->reject();
              });
  script.wait(back, click("sbtPrint"), true);
  script.wait([] { return modal<QPrintDialog>() != nullptr; }, [&] {
    printAsked = true;
    modal<QPrintDialog>()->reject();  // the user gives up: nothing printed
  });
  QTemporaryDir out;
  const QString csv = out.filePath("listing.csv");
  script.wait(back, click("sbtSalvarComo"), true);
  // The name put into the dialog's file name field, then Enter (typed key by
  // key, the field's completer would open and take the Enter).
  script.wait([] { return modal<QFileDialog>() != nullptr; }, [&] {
    auto* name = modal<QFileDialog>()->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(name, nullptr);
    name->setText(csv);
    QTest::keyClick(name, Qt::Key_Return);
  });
  script.wait(back, click("sbtClose"), true);
  script.start();
  // Only against a hang: a stalled script closes what is open.
  QTimer rescue;
  QObject::connect(&rescue, &QTimer::timeout, [] {
    if (QWidget* w = QApplication::activeModalWidget()) w->close();
  });
  QTimer::singleShot(60000, &rescue, [&] { rescue.start(500); });

  ASSERT_TRUE(window_->open("PLA01001"));  // returns when the listing closes
  EXPECT_TRUE(script.done()) << "stalled at step " << script.next;
  EXPECT_TRUE(dialogs.texts.isEmpty()) << dialogs.texts.join("\n").toStdString();
  ASSERT_EQ(tap.previewed.size(), 1u);
  ASSERT_EQ(tap.designed.size(), 1u);
  EXPECT_EQ(tap.printed.size(), 1u);
  EXPECT_TRUE(printAsked);
  EXPECT_EQ(reportNames, QString::fromUtf8("Efetivos por Serviço"));
  EXPECT_TRUE(listaOffered);
  const report::Document& doc = tap.previewed[0];
  ASSERT_GT(doc.Pages.size(), 1u);
  EXPECT_EQ(previewPages, static_cast<int>(doc.Pages.size()));
  EXPECT_EQ(designPages, static_cast<int>(tap.designed[0].Pages.size()));
  EXPECT_TRUE(definition.contains("\"code\": \"PLA010\"")) << definition.left(200).toStdString();

  // Saved where the file dialog said, as a spreadsheet reads it.
  QFile saved(csv);
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  const QByteArray bytes = saved.readAll();
  EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
  EXPECT_TRUE(QString::fromUtf8(bytes).contains(QString::fromUtf8("Total do período")));

  // What the preview paints, on a PDF: every page, the headings with the
  // branch, the period as typed and the services, the groups and the totals.
  const QString pdf = out.filePath("listing.pdf");
  {
    QPdfWriter writer(pdf);
    ASSERT_TRUE(desktop::RenderDocument(doc, writer));
  }
  const int pages = static_cast<int>(doc.Pages.size());
  EXPECT_EQ(pdfPages(pdf), pages);
  const QString text = pdfText(pdf).simplified();
  EXPECT_TRUE(text.contains("Filial: 0001 - ")) << text.left(300).toStdString();
  EXPECT_TRUE(text.contains(QString::fromUtf8("Período: %1 a %2").arg(first.toString("dd/MM/yyyy"), last.toString("dd/MM/yyyy"))));
  EXPECT_TRUE(text.contains(QString::fromUtf8("Serviços: Todos")));
  EXPECT_TRUE(text.contains(QString::fromUtf8("Total do período")));
  EXPECT_TRUE(text.contains(QString::fromUtf8("Página %1 de %1").arg(pages)));
  int groups = 0, details = 0;
  for (const report::Line& l : doc.Body) {
    using K = report::LineKind;
    if (l.Kind == K::Header || l.Kind == K::GroupHeader || l.Kind == K::Subtotal || l.Kind == K::Total) {
      EXPECT_TRUE(text.contains(simplified(l.Cells[0].Text))) << l.Cells[0].Text;
      groups += l.Kind == K::GroupHeader;
    }
    if (l.Kind == K::Total || (l.Kind == K::Detail && details++ < 3))
      for (const report::Cell& c : l.Cells) EXPECT_TRUE(text.contains(simplified(c.Text))) << c.Text;
  }
  EXPECT_EQ(groups, 3);  // the demo branch's three services

  // A page range given to the printer prints those pages only.
  const QString second = out.filePath("page2.pdf");
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(second);
  desktop::SetDocumentPage(doc, printer);
  printer.setPrintRange(QPrinter::PageRange);
  printer.setFromTo(2, 2);
  desktop::PrintDocument(doc, printer);
  EXPECT_EQ(pdfPages(second), 1);
  const QString page2 = pdfText(second).simplified();
  EXPECT_TRUE(page2.contains(QString::fromUtf8("Página 2 de %1").arg(pages))) << page2.left(300).toStdString();
  EXPECT_FALSE(page2.contains(QString::fromUtf8("Página 1 de")));
}

}  // namespace

namespace {

// The screenshot command as the README gives it: the picture is saved and the
// program ends, also when the screen in front is modal.
TEST_F(Desktop, TheScreenshotCommandSavesTheModalScreenAndExits) {
  QTemporaryDir out;
  auto run = [&](const QString& file, QStringList args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(EFET_DESKTOP_PROGRAM, QStringList{"--local-server", "--demo-db", out.filePath("demo.db"), "--screenshot",
                                              out.filePath(file)} + args);
    // Generous: only a hang fails here.
    if (!p.waitForFinished(120000)) {
      p.kill();
      p.waitForFinished();
      return -1;
    }
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
  };
  ASSERT_EQ(run("pla01001.png", {"--open", "PLA01001", "--keys", "<Tab>"}), 0);
  QImage listing(out.filePath("pla01001.png"));
  ASSERT_FALSE(listing.isNull());
  // The dialog (neither the frame behind it nor a message box).
  EXPECT_LT(listing.width(), 1280);
  EXPECT_GE(listing.width(), 640);

  const QString yesterday = QDate::currentDate().addDays(-1).toString("ddMMyyyy");
  ASSERT_EQ(run("pla01002.png", {"--open", "PLA01000", "--keys",
                                 "0001<Tab>" + yesterday +
                                     "<Tab><Tab><Page:Efetivos de Faturamento><Cell:dbgEfeCliCa,1,2><Button:dbgEfeCliCa>"}),
            0);
  QImage items(out.filePath("pla01002.png"));
  ASSERT_FALSE(items.isNull());
  EXPECT_LT(items.width(), 1280);
  EXPECT_LT(items.height(), 800);
  EXPECT_GE(items.height(), 307);  // the items screen's own height
}

}  // namespace
