#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>

#include "GuiTestSupport.h"
#include "app/CaptureDialogs.h"
#include "app/CommandBar.h"
#include "app/CommandIds.h"
#include "app/MainFrame.h"
#include "devsim/DevSim.h"
#include "terminal/HexView.h"
#include "terminal/TerminalView.h"

// The main window's capture commands on a simulated device: the text and
// hex views of the same received bytes, timestamps in the pane, Send Hex
// and Log to File.
class TestCapture : public QObject {
    Q_OBJECT

    CDevSim m_device;
    CPortMap m_ports;
    QTemporaryDir m_dir;
    std::unique_ptr<CMainFrame> m_frame;
    QStringList m_messages;

    CVORLAView* Pane() { return m_frame->Terminal(); }
    static int64_t NowMs()
    {
        using namespace std::chrono;
        return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    }
    bool Receive(const std::string& bytes)
    {
        const uint64_t end = m_frame->ReceivedBytes().End() + bytes.size();
        m_device.Inject(bytes);
        return WaitUntil([&] { return m_frame->ReceivedBytes().End() == end && m_frame->ReceivedText().Waiting() == 0; });
    }

private slots:
    void initTestCase()
    {
        const std::string error = MapSilentDeviceAsCom2(m_device, m_ports);
        QVERIFY2(error.empty(), error.c_str());
    }

    void init()
    {
        m_messages.clear();
        m_frame = std::make_unique<CMainFrame>(m_ports);
        m_frame->GuiPrompt().m_answer = [this](const QString& text, bool) {
            m_messages << text;
            return true;
        };
        m_frame->resize(1100, 700);
        m_frame->show();
        m_frame->m_wndCommandBar->m_cbPort->setCurrentIndex(1);
        m_frame->OnConnect();
        QCOMPARE(m_frame->OpenPort(), 2);
        m_device.ClearReceived();
    }

    void cleanup() { m_frame.reset(); }

    // The hex view shows every byte (NUL, above 0x7F) that the text view
    // cannot; switching views or timestamps changes neither.
    void viewsShowTheSameBytesAndSwitchingChangesNothing()
    {
        const int64_t before = NowMs();
        QVERIFY(Receive(std::string("hello\r\n\x00\xff\x80world\n", 16)));
        const int64_t after = NowMs();
        const QString text = Pane()->toPlainText();
        QCOMPARE(text, QString("hello\n...world\n"));

        m_frame->OnCommand(ID_VIEW_HEX);
        QVERIFY(Pane()->IsHexShown());
        CHexView* hex = Pane()->HexView();
        QCOMPARE(QString::fromStdString(m_frame->ReceivedBytes().Row(0)),
                 QString("00000000  68 65 6C 6C 6F 0D 0A 00  FF 80 77 6F 72 6C 64 0A  |hello.....world.|"));
        hex->setFocus();
        m_frame->OnCommand(ID_EDIT_SELECT_ALL);
        m_frame->OnCommand(ID_EDIT_COPY);
        QCOMPARE(QApplication::clipboard()->text(), QString("68 65 6C 6C 6F 0D 0A 00 FF 80 77 6F 72 6C 64 0A"));
        // A drag over the hex column selects the bytes under it.
        const int cw = hex->fontMetrics().horizontalAdvance('0');
        const int y = hex->fontMetrics().lineSpacing() / 2;
        QTest::mousePress(hex->viewport(), Qt::LeftButton, {}, QPoint(4 + CHexRow::HexColumn(7) * cw + 1, y));
        QMouseEvent move(QEvent::MouseMove, QPointF(4 + CHexRow::CharColumn(9) * cw + 1, y), QPointF(),
                         Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(hex->viewport(), &move);
        QCOMPARE(hex->SelectedText(), QString("00 FF 80"));

        m_frame->OnCommand(ID_VIEW_HEX);
        QVERIFY(!Pane()->IsHexShown());
        m_frame->OnCommand(ID_VIEW_TIMESTAMPS);
        QVERIFY(Pane()->IsShowingTimestamps());
        QCOMPARE(Pane()->toPlainText(), text);
        for (std::size_t line = 0; line < 2; ++line) {
            QVERIFY2(Pane()->LineTime(line) >= before && Pane()->LineTime(line) <= after,
                     qPrintable(QString::number(Pane()->LineTime(line) - before)));
        }
        QCOMPARE(Pane()->LineTime(2), int64_t(0)); // the empty last line has not begun
        m_frame->OnCommand(ID_VIEW_TIMESTAMPS);
        QCOMPARE(Pane()->toPlainText(), text);

        // Clear Screen empties both views.
        m_frame->OnCommand(ID_FILE_NEW);
        QCOMPARE(m_frame->ReceivedBytes().RowEnd(), m_frame->ReceivedBytes().FirstRow());
        QVERIFY(Pane()->IsEmpty());
    }

    void sendHexGoesOutAndBadHexSendsNothing()
    {
        m_frame->m_chooseHex = [] { return QString("48 65 6c6C 6f 0D0A"); };
        m_frame->OnCommand(ID_SEND_HEX);
        QVERIFY(m_device.WaitForReceived(7, 5000));
        QCOMPARE(QString::fromStdString(m_device.Received()), QString("Hello\r\n"));
        m_frame->m_chooseHex = [] { return QString("48 6"); };
        m_frame->OnCommand(ID_SEND_HEX);
        QCOMPARE(m_messages, QStringList{"Nothing sent: a lone hex digit: each byte takes two digits at position 4"});
        // The dialog keeps bad text, says what and where, and sends nothing.
        CSendHexDialog dialog("41 4G");
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(dialog.findChild<QLabel*>("hexError")->text(), QString("not a hex digit: 'G' at position 5"));
        QTest::qWait(50);
        QCOMPARE(m_device.ReceivedCount(), std::size_t(7));
    }

    // The log runs across Clear Screen, shows in the status bar, and stops
    // with a console line when the port closes.
    void logToFileStopsWhenThePortCloses()
    {
        const QString path = m_dir.filePath("session.log");
        m_frame->m_chooseLog = [&](QString& chosen, SLogOptions& options) {
            chosen = path;
            options.raw = true;
            return true;
        };
        m_frame->OnCommand(ID_FILE_LOG);
        QVERIFY(m_frame->SessionLog().IsRunning());
        QVERIFY(Receive(std::string("one\n\x00", 5)));
        m_frame->OnCommand(ID_FILE_NEW);
        QVERIFY(Receive("two\n"));
        auto* label = m_frame->findChild<QLabel*>("statusLog");
        QVERIFY(WaitUntil([&] { return label->isVisible() && label->text() == "Log: 9 bytes"; }, 5000));
        m_frame->OnDisconnect();
        QVERIFY(WaitUntil([&] { return !m_frame->SessionLog().IsRunning() && !label->isVisible(); }));
        QVERIFY(WaitUntil([&] { return m_frame->Console()->toPlainText().contains("Log stopped (the port was closed)"); }));
        std::ifstream in(path.toStdString(), std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        QCOMPARE(all.str(), std::string("one\n\x00two\n", 9));
    }
};

QTEST_MAIN(TestCapture)
#include "tst_capture.moc"
