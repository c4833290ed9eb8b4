#include "modalhand.h"
#include "qtdialogs.h"

#include <QAbstractButton>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProgressDialog>
#include <QScreen>
#include <QTest>

class tst_QtDialogs : public QObject
{
    Q_OBJECT

private slots:
    void messageBoxCarriesTheApplicationTitle();
    void yesNo_data();
    void yesNo();
    void inputBoxShowsPromptAndDefault_data();
    void inputBoxShowsPromptAndDefault();
    void busyCursor();
    void longFileNameFitsTheScreen();
};

void tst_QtDialogs::messageBoxCarriesTheApplicationTitle()
{
    QWidget window;
    QtDialogs dialogs(&window);
    QString title, text;
    QMessageBox::StandardButtons buttons;
    QMessageBox::Icon icon = QMessageBox::Critical;
    ModalHand hand([&](QWidget* dialog) {
        auto* box = qobject_cast<QMessageBox*>(dialog);
        QVERIFY(box);
        title = box->windowTitle();
        text = box->text();
        buttons = box->standardButtons();
        icon = box->icon();
        QCOMPARE(box->parentWidget(), &window);
        box->button(QMessageBox::Ok)->click();
    });
    const Dialogs::Answer answer =
        dialogs.messageBox("The log could not be written to \"<b>x</b>\":\r\nNo room");
    QVERIFY(hand.acted());
    QCOMPARE(answer, Dialogs::Answer::Ok);
    QCOMPARE(title, QString("Kinto Sniffer"));
    QCOMPARE(text, QString("The log could not be written to \"<b>x</b>\":\nNo room"));
    QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(icon, QMessageBox::NoIcon);
}

void tst_QtDialogs::yesNo_data()
{
    QTest::addColumn<int>("press");
    QTest::addColumn<Dialogs::Answer>("answer");
    QTest::newRow("yes") << int(QMessageBox::Yes) << Dialogs::Answer::Yes;
    QTest::newRow("no") << int(QMessageBox::No) << Dialogs::Answer::No;
}

void tst_QtDialogs::yesNo()
{
    QFETCH(int, press);
    QFETCH(Dialogs::Answer, answer);
    QtDialogs dialogs;
    QMessageBox::StandardButtons buttons;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    ModalHand hand([&](QWidget* dialog) {
        auto* box = qobject_cast<QMessageBox*>(dialog);
        QVERIFY(box);
        buttons = box->standardButtons();
        icon = box->icon();
        box->button(QMessageBox::StandardButton(press))->click();
    });
    const Dialogs::Answer given = dialogs.messageBox("Are you sure?", Dialogs::Buttons::YesNo,
                                                     Dialogs::Icon::Information, "Clear List");
    QVERIFY(hand.acted());
    QCOMPARE(given, answer);
    QCOMPARE(buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(icon, QMessageBox::Information);
}

void tst_QtDialogs::inputBoxShowsPromptAndDefault_data()
{
    QTest::addColumn<bool>("accept");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("answer");
    QTest::newRow("accepted as proposed") << true << QString() << "/opt/k/KintoCapturelog.csv";
    QTest::newRow("edited") << true << "mylog"
                            << "mylog";
    QTest::newRow("field emptied") << true << ""
                                   << "";
    QTest::newRow("cancelled") << false << "mylog"
                               << "";
}

void tst_QtDialogs::inputBoxShowsPromptAndDefault()
{
    QFETCH(bool, accept);
    QFETCH(QString, typed);
    QFETCH(QString, answer);
    QtDialogs dialogs;
    QString label;
    ModalHand hand([&](QWidget* dialog) {
        auto* box = qobject_cast<QInputDialog*>(dialog);
        QVERIFY(box);
        label = box->labelText();
        if (!typed.isNull())
            box->setTextValue(typed);
        accept ? box->accept() : box->reject();
    });
    const QString given = dialogs.inputBox("Enter File Name:\r\n(include .csv)", "Save log as ...",
                                           "/opt/k/KintoCapturelog.csv");
    QVERIFY(hand.acted());
    QCOMPARE(given, answer);
    QCOMPARE(label, QString("Enter File Name:\n(include .csv)")); // a line break of the screen
}

void tst_QtDialogs::busyCursor()
{
    {
        QtDialogs dialogs;
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        dialogs.setBusy(true);
        QVERIFY(QGuiApplication::overrideCursor());
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
        {
            // A progress shown while busy takes clicks on its Cancel button.
            const auto progress = dialogs.showProgress("Save Log", "0 of 10 rows written", 10);
            const auto* box = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
            QVERIFY(box && box->isVisible());
            QCOMPARE(box->windowTitle(), QString("Save Log"));
            QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::ArrowCursor);
            progress->setValue(4, "4 of 10 rows written");
            QCOMPARE(box->labelText(), QString("4 of 10 rows written"));
            QVERIFY(!progress->wasCanceled());
            auto* cancel = box->findChild<QAbstractButton*>();
            QVERIFY(cancel);
            QCOMPARE(cancel->text(), QString("Cancel"));
            QTest::mouseClick(cancel, Qt::LeftButton);
            QVERIFY(progress->wasCanceled());
        }
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
        dialogs.setBusy(false);
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        dialogs.setBusy(false); // an unmatched end must not take away someone else's cursor
        dialogs.setBusy(true);
    }
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr); // never left busy
}

void tst_QtDialogs::longFileNameFitsTheScreen()
{
    QWidget window;
    QtDialogs dialogs(&window);
    const QString name = "/tmp/" + QString(5000, u'x') + "/log.csv";
    QRect screen, box, ok;
    QString text;
    ModalHand hand([&](QWidget* dialog) {
        auto* message = qobject_cast<QMessageBox*>(dialog);
        QVERIFY(message);
        screen = message->screen()->availableGeometry();
        box = message->frameGeometry();
        ok = message->button(QMessageBox::Ok)->geometry();
        ok.moveTopLeft(message->button(QMessageBox::Ok)->mapTo(message, QPoint()));
        text = message->text();
        message->button(QMessageBox::Ok)->click();
    });
    dialogs.messageBox("The log could not be written to \"" + name + "\":\r\nNo room");
    QVERIFY(hand.acted());
    QVERIFY2(box.height() <= screen.height() && box.width() <= screen.width(),
             qPrintable(QString("%1 x %2").arg(box.width()).arg(box.height())));
    QVERIFY(QRect(QPoint(), box.size()).contains(ok)); // the button is in sight
    QVERIFY2(text.startsWith("The log could not be written to \"/tmp/xx"), qPrintable(text));
    QVERIFY2(text.endsWith("xx/log.csv\":\nNo room"), qPrintable(text)); // the reason stays
    QVERIFY(text.contains(QChar(0x2026)));                               // middle left out

    // A command with spaces wraps instead: it stays whole, to be copied as it stands.
    const QString advice = "Grant it with \"sudo setcap cap_net_raw=p /usr/lib/" +
                           QString(40, u'h') + "/kintosniffer-capture\".";
    ModalHand again([&](QWidget* dialog) {
        auto* message = qobject_cast<QMessageBox*>(dialog);
        QVERIFY(message);
        text = message->text();
        message->button(QMessageBox::Ok)->click();
    });
    dialogs.messageBox(advice);
    QVERIFY(again.acted());
    QCOMPARE(text, advice);
}

QTEST_MAIN(tst_QtDialogs)
#include "tst_qtdialogs.moc"
