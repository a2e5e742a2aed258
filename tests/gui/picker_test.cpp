// The directory picker over the demo school, driven from inside its modal run.
#include "picker_fixture.h"

#include "browse/browse.h"
#include "settings/ui/mini_nds_browser.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

using pickertest::CatchShow;
using pickertest::captions;
using pickertest::clickRow;
using pickertest::configure;
using pickertest::doubleClickRow;
using pickertest::rowOf;
using pickertest::waitForListing;

class TestPicker : public QObject {
    Q_OBJECT

private slots:
    void init() {
        session = std::make_unique<pickertest::Session>();
        session->open();
    }
    void cleanup() {
        session->close();
        session.reset();
        // Every dialog is gone again: no modal run was left behind.
        QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void configurationFallsBackToRootAndClampsTheMode() {
        TMiniNDSBrowser picker;
        QCOMPARE(picker.windowTitle(), QStringLiteral("Quillon-Mini-NDSBrowser 1.5"));
        QCOMPARE(picker.LAktContext->text(), QStringLiteral("?"));
        QCOMPARE(picker.StartContext(), std::string("[ROOT]"));
        QVERIFY(picker.ErlaubeHoeher());

        picker.SetStartContext("PROJEKTE.UNTERRICHT");
        QCOMPARE(picker.StartContext(), std::string("PROJEKTE.UNTERRICHT"));
        picker.SetStartContext(".SCHUELER.UNTERRICHT");  // one dot only, never two
        QCOMPARE(picker.StartContext(), std::string("SCHUELER.UNTERRICHT"));
        picker.SetStartContext("GIBTESNICHT.UNTERRICHT");
        QCOMPARE(picker.StartContext(), std::string("[ROOT]"));
        QVERIFY(session->ports.box.boxes.empty());  // no message for a missing start

        picker.SetListenModus(3);
        QCOMPARE(picker.ListenModus(), 3);
        picker.SetListenModus(4);
        QCOMPARE(picker.ListenModus(), 0);
        picker.SetListenModus(-1);
        QCOMPARE(picker.ListenModus(), 0);

        picker.SetMehrfachAuswahl(true);
        QCOMPARE(picker.LVCtxBrowser->selectionMode(), QAbstractItemView::ExtendedSelection);
        picker.SetMehrfachAuswahl(false);
        QCOMPARE(picker.LVCtxBrowser->selectionMode(), QAbstractItemView::SingleSelection);
    }

    void layoutFollowsTheSize() {
        TMiniNDSBrowser picker;
        QCOMPARE(picker.size(), QSize(278, 280));
        QCOMPARE(picker.LVCtxBrowser->geometry().topLeft(), QPoint(6, 32));
        QCOMPARE(picker.LVCtxBrowser->width(), 203);
        QCOMPARE(picker.BOk->geometry(), QRect(219, 32, 49, 25));
        QCOMPARE(picker.BAbbruch->geometry(), QRect(219, 64, 49, 25));
        QCOMPARE(picker.LAktContext->pos(), QPoint(8, 8));
        QVERIFY(picker.BOk->isDefault());
        QVERIFY(picker.LVCtxBrowser->isHeaderHidden());
        QVERIFY(picker.LAktContext->font().bold());
        for (QPushButton* b : {picker.BOk, picker.BAbbruch}) {
            const int caption = b->fontMetrics().horizontalAdvance(b->text().remove('&'));
            QVERIFY2(caption + 8 <= b->width(), qPrintable(b->objectName()));  // not cut off
        }

        picker.show();
        picker.resize(400, 300);
        QTRY_COMPARE(picker.LVCtxBrowser->size(), QSize(325, 225));
        QCOMPARE(picker.LVCtxBrowser->columnWidth(0), 304);
        QCOMPARE(picker.BOk->x(), 341);
        QCOMPARE(picker.BAbbruch->x(), 341);
        QCOMPARE(picker.BOk->y(), 32);
        QCOMPARE(picker.BAbbruch->y(), 64);
        QTRY_VERIFY(!picker.busy());
        picker.reject();
    }

    void containerConfigurationListsOnlyContainers() {
        TMiniNDSBrowser picker;
        configure(picker, false);
        CatchShow<TMiniNDSBrowser> catcher([](TMiniNDSBrowser* p) {
            QVERIFY(waitForListing(p));
            // At the root: no "..", no Country or Locality, only organizations and units.
            QVERIFY(!captions(p).contains(QStringLiteral("..")));
            QCOMPARE(captions(p), (QStringList{"UNTERRICHT", "PROJEKTE"}));  // Organization first
            QVERIFY(text::equalsAsciiNoCase(p->AktContext(), "[root]"));
            QCOMPARE(p->LAktContext->text().toStdString(), p->AktContext());
            QVERIFY(!p->BOk->isEnabled());
            QVERIFY(p->LVCtxBrowser->hasFocus());
            // The first row carries the focus mark without being selected.
            QCOMPARE(p->LVCtxBrowser->currentIndex().row(), 0);
            QVERIFY(p->LVCtxBrowser->selectedItems().isEmpty());

            QVERIFY(pickertest::enterRow(p, "UNTERRICHT", "UNTERRICHT"));
            QCOMPARE(p->LAktContext->text(), QStringLiteral("UNTERRICHT"));
            const QStringList rows = captions(p);
            QCOMPARE(rows.first(), QStringLiteral(".."));
            QVERIFY(rows.contains("PROJEKTE") && rows.contains("SCHUELER") && rows.contains("LEHRER"));
            for (int i = 1; i < rows.size(); ++i) {
                const int icon = p->LVCtxBrowser->topLevelItem(i)->data(0, Qt::UserRole + 1).toInt();
                QVERIFY2(icon == browse::SymbolOrganization || icon == browse::SymbolOrganizationalUnit,
                         qPrintable(rows[i]));
                clickRow(p, i);
                QVERIFY2(p->BOk->isEnabled(), qPrintable(rows[i]));
            }
            // ".." is never selected, and selecting it takes "&Ok" away.
            clickRow(p, 0);
            QVERIFY(p->LVCtxBrowser->selectedItems().isEmpty());
            QVERIFY(!p->BOk->isEnabled());
            p->BAbbruchClick();
        });
        QCOMPARE(picker.exec(), int(QDialog::Rejected));
        QVERIFY(catcher.caught());
        QCOMPARE(picker.Ergebnis(), std::string());
    }

    void groupConfigurationEnablesOkOnGroupsOnly() {
        TMiniNDSBrowser picker;
        configure(picker, true);
        CatchShow<TMiniNDSBrowser> catcher([](TMiniNDSBrowser* p) {
            QVERIFY(waitForListing(p));
            QVERIFY(pickertest::enterRow(p, "UNTERRICHT", "UNTERRICHT"));
            QVERIFY(pickertest::enterRow(p, "PROJEKTE", "PROJEKTE.UNTERRICHT"));

            const int group = rowOf(p, "G_User_Internet_Deny");
            QVERIFY(group > 0);
            QCOMPARE(p->LVCtxBrowser->topLevelItem(group)->data(0, Qt::UserRole + 1).toInt(), 14);
            for (const QString& row : captions(p)) QVERIFY2(!row.startsWith("Gast"), "users are no display class");

            clickRow(p, group);
            QVERIFY(p->BOk->isEnabled());
            // A double-click on a group lists nothing below it: the view stays.
            const QStringList before = captions(p);
            doubleClickRow(p, group);
            QTRY_VERIFY(!p->busy());
            QCOMPARE(captions(p), before);
            QCOMPARE(p->AktContext(), std::string("PROJEKTE.UNTERRICHT"));

            clickRow(p, 0);  // ".."
            QVERIFY(!p->BOk->isEnabled());
            clickRow(p, group);
            QVERIFY(p->BOk->isEnabled());
            QTest::mouseClick(p->BOk, Qt::LeftButton);
        });
        QCOMPARE(picker.exec(), int(QDialog::Accepted));
        QCOMPARE(picker.Ergebnis(), std::string("G_User_Internet_Deny.PROJEKTE.UNTERRICHT"));
    }

    void containerRowDisablesOkInGroupConfiguration() {
        TMiniNDSBrowser picker;
        configure(picker, true);
        CatchShow<TMiniNDSBrowser> catcher([](TMiniNDSBrowser* p) {
            QVERIFY(waitForListing(p));
            clickRow(p, rowOf(p, "PROJEKTE"));
            QVERIFY(!p->BOk->isEnabled());
            p->BAbbruchClick();
        });
        picker.exec();
        QVERIFY(catcher.caught());
    }

    void choosingAtTheRootDropsTheRootSuffix() {
        TMiniNDSBrowser picker;
        configure(picker, false);
        CatchShow<TMiniNDSBrowser> catcher([](TMiniNDSBrowser* p) {
            QVERIFY(waitForListing(p));
            const int row = rowOf(p, "PROJEKTE");
            QVERIFY(p->CtxVolleNamen()[size_t(row)].find(".[") != std::string::npos);
            clickRow(p, row);
            QVERIFY(p->BOk->isEnabled());
            // Return with a choosable row selected chooses it.
            QTest::keyClick(p->LVCtxBrowser, Qt::Key_Return);
        });
        QCOMPARE(picker.exec(), int(QDialog::Accepted));
        QCOMPARE(picker.Ergebnis(), std::string("PROJEKTE"));
    }

    void returnNavigatesWhileOkIsDisabled() {
        TMiniNDSBrowser picker;
        configure(picker, false);
        CatchShow<TMiniNDSBrowser> catcher([](TMiniNDSBrowser* p) {
            QVERIFY(waitForListing(p));
            // At the root Return enters the first listed object, from the focus mark.
            QVERIFY(!p->BOk->isEnabled());
            QTest::keyClick(p->LVCtxBrowser, Qt::Key_Return);
            QTRY_COMPARE(p->AktContext(), std::string("UNTERRICHT"));
            QVERIFY(p->isVisible());
            // Freshly listed below the root, the mark is on "..": Return goes up again.
            QCOMPARE(p->LVCtxBrowser->currentIndex().row(), 0);
            QTest::keyClick(p->LVCtxBrowser, Qt::Key_Enter, Qt::KeypadModifier);  // the keypad's Enter
            QTRY_VERIFY(text::equalsAsciiNoCase(p->AktContext(), "[root]"));
            QVERIFY(p->isVisible());
            // A single click only selects, it never navigates.
            clickRow(p, rowOf(p, "UNTERRICHT"));
            QCoreApplication::processEvents();
            QVERIFY(text::equalsAsciiNoCase(p->AktContext(), "[root]"));
            p->BAbbruchClick();
        });
        picker.exec();
        QVERIFY(catcher.caught());
        QCOMPARE(picker.Ergebnis(), std::string());
    }

    void doubleClickBelowTheRowsActsOnTheFocusedRow() {
        TMiniNDSBrowser picker;
        configure(picker, false);
        CatchShow<TMiniNDSBrowser> catcher([](TMiniNDSBrowser* p) {
            QVERIFY(waitForListing(p));
            QVERIFY(pickertest::enterRow(p, "UNTERRICHT", "UNTERRICHT"));
            // The mark is on "..", nothing is selected; a double-click in the empty part of the
            // list goes up from there.
            QCOMPARE(p->LVCtxBrowser->currentIndex().row(), 0);
            const int count = p->LVCtxBrowser->topLevelItemCount();
            const QPoint below(20, pickertest::rowRect(p, count - 1).bottom() + 20);
            QVERIFY(!p->LVCtxBrowser->indexAt(below).isValid());
            QTest::mouseDClick(p->LVCtxBrowser->viewport(), Qt::LeftButton, {}, below);
            QTRY_VERIFY(!p->busy() && text::equalsAsciiNoCase(p->AktContext(), "[root]"));
            // The right button's double-click is no navigation.
            QTest::mouseDClick(p->LVCtxBrowser->viewport(), Qt::RightButton, {},
                               pickertest::rowRect(p, 0).center());
            QCoreApplication::processEvents();
            QVERIFY(text::equalsAsciiNoCase(p->AktContext(), "[root]"));
            p->BAbbruchClick();
        });
        picker.exec();
        QVERIFY(catcher.caught());
    }

    void upLevelStopsAtTheStartUnlessAllowed() {
        for (bool allow : {false, true}) {
            TMiniNDSBrowser picker;
            configure(picker, false);
            picker.SetStartContext("SCHUELER.UNTERRICHT");
            picker.SetErlaubeHoeher(allow);
            CatchShow<TMiniNDSBrowser> catcher([allow](TMiniNDSBrowser* p) {
                QTRY_VERIFY(!p->busy() && text::equalsAsciiNoCase(p->AktContext(), "SCHUELER.UNTERRICHT"));
                // The ".." row is shown at the start also when it leads nowhere.
                QCOMPARE(captions(p).first(), QStringLiteral(".."));
                doubleClickRow(p, 0);
                QTRY_VERIFY(!p->busy());
                QCOMPARE(p->AktContext(), std::string(allow ? "UNTERRICHT" : "SCHUELER.UNTERRICHT"));
                p->BAbbruchClick();
            });
            picker.exec();
            QVERIFY(catcher.caught());
        }
    }

    void okWithoutSelectionStaysOpen() {
        TMiniNDSBrowser picker;
        configure(picker, false);
        CatchShow<TMiniNDSBrowser> catcher([](TMiniNDSBrowser* p) {
            QVERIFY(waitForListing(p));
            const int row = rowOf(p, "UNTERRICHT");
            clickRow(p, row);
            QVERIFY(p->BOk->isEnabled());
            // Navigating keeps "&Ok" as it was, though the new rows have no selection.
            doubleClickRow(p, row);
            QTRY_COMPARE(p->AktContext(), std::string("UNTERRICHT"));
            QVERIFY(p->LVCtxBrowser->selectedItems().isEmpty());
            QVERIFY(p->BOk->isEnabled());
            QTest::mouseClick(p->BOk, Qt::LeftButton);
            QVERIFY(!p->BOk->isEnabled());
            QVERIFY(p->isVisible());
            QCOMPARE(p->Ergebnis(), std::string());
            p->BAbbruchClick();
        });
        QCOMPARE(picker.exec(), int(QDialog::Rejected));
    }

    void multiSelectionChoosesTheFirstRowInListOrder() {
        TMiniNDSBrowser picker;
        configure(picker, false);
        picker.SetMehrfachAuswahl(true);
        CatchShow<TMiniNDSBrowser> catcher([](TMiniNDSBrowser* p) {
            QVERIFY(waitForListing(p, 2));
            p->LVCtxBrowser->topLevelItem(1)->setSelected(true);
            p->LVCtxBrowser->topLevelItem(0)->setSelected(true);
            QVERIFY(p->BOk->isEnabled());
            p->BOkClick();
        });
        QCOMPARE(picker.exec(), int(QDialog::Accepted));
        QCOMPARE(picker.Ergebnis(), std::string("UNTERRICHT"));
    }

    void startsOncePerModalRun() {
        TMiniNDSBrowser picker;
        configure(picker, false);
        {
            CatchShow<TMiniNDSBrowser> catcher([](TMiniNDSBrowser* p) {
                QVERIFY(waitForListing(p));
                doubleClickRow(p, rowOf(p, "UNTERRICHT"));
                QTRY_COMPARE(p->AktContext(), std::string("UNTERRICHT"));
                // Another window showing and closing over the picker does not start it again.
                {
                    QDialog box(p);
                    box.setModal(true);
                    box.show();
                    QTRY_VERIFY(box.isVisible());
                    box.close();
                }
                p->activateWindow();
                QCoreApplication::processEvents();
                QCOMPARE(p->AktContext(), std::string("UNTERRICHT"));
                p->BAbbruchClick();
            });
            picker.exec();
            QVERIFY(catcher.caught());
        }
        {
            // A second run starts over at the start context.
            CatchShow<TMiniNDSBrowser> catcher([](TMiniNDSBrowser* p) {
                QTRY_VERIFY(!p->busy() && text::equalsAsciiNoCase(p->AktContext(), "[root]"));
                QVERIFY(!p->BOk->isEnabled());
                p->BAbbruchClick();
            });
            picker.exec();
            QVERIFY(catcher.caught());
        }
    }

    void commandsDuringAListingAreIgnored() {
        TMiniNDSBrowser picker;
        configure(picker, false);
        int tried = 0;
        CatchShow<TMiniNDSBrowser> catcher([&](TMiniNDSBrowser* p) {
            QVERIFY(waitForListing(p));
            // While the next listing pumps messages, a second navigation, "&Ok" and "&Abbruch"
            // arrive; none of them may act.
            session->ports.pump.onPump = [&](int) {
                if (tried || !p->busy()) return;
                tried = 1;
                p->LVCtxBrowser->topLevelItem(0)->setSelected(true);
                p->LVCtxBrowserDblClick();
                p->BOkClick();
                p->BAbbruchClick();
            };
            doubleClickRow(p, rowOf(p, "UNTERRICHT"));
            QCOMPARE(tried, 1);
            QVERIFY(p->isVisible());
            QCOMPARE(p->AktContext(), std::string("UNTERRICHT"));
            QCOMPARE(p->CtxVolleNamen().size(), size_t(p->LVCtxBrowser->topLevelItemCount()));

            // The close box during a listing closes the dialog once the listing has ended.
            session->ports.pump.onPump = [&](int) {
                if (tried == 2 || !p->busy()) return;
                tried = 2;
                p->close();
                QVERIFY(p->isVisible());
            };
            doubleClickRow(p, rowOf(p, ".."));  // up to the root
            session->ports.pump.onPump = nullptr;
            QCOMPARE(tried, 2);
            QVERIFY(text::equalsAsciiNoCase(p->AktContext(), "[root]"));
            QVERIFY(!p->isVisible());
        });
        QCOMPARE(picker.exec(), int(QDialog::Rejected));
        QCOMPARE(picker.Ergebnis(), std::string());
    }

    void emptyStartLeavesOnlyCancelling() {
        TMiniNDSBrowser picker;
        picker.SetAnzeigeKlassen({"Workstation"});  // nothing of it at the root
        picker.SetAuswahlKlassen({"Workstation"});
        CatchShow<TMiniNDSBrowser> catcher([](TMiniNDSBrowser* p) {
            QTRY_VERIFY(!p->busy() && p->LAktContext->text() != QStringLiteral("?"));
            QCOMPARE(p->LVCtxBrowser->topLevelItemCount(), 0);
            QTest::keyClick(p->LVCtxBrowser, Qt::Key_Return);  // no focused row: nothing happens
            QVERIFY(p->isVisible());
            QTest::keyClick(p, Qt::Key_Escape);
        });
        QCOMPARE(picker.exec(), int(QDialog::Rejected));
        QCOMPARE(picker.AuswahlSymbole().count(), size_t(1));
        QVERIFY(picker.AuswahlSymbole().test(50));
    }

private:
    std::unique_ptr<pickertest::Session> session;
};

QTEST_MAIN(TestPicker)
#include "picker_test.moc"
