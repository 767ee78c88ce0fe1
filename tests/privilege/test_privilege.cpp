// Control privilege on a real main window (offscreen) connected to the test
// device in process: the device grants, refuses and asks back the privilege,
// the window answers, and nothing stays held on the remote computer.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <functional>
#include <thread>

#include "c_devsim_km.h"
#include "common/devsim_window.h"
#include "common/h264video_input_peer.h"
#include "common/log_capture.h"
#include "tools/key_mouse/km_messages.h"

namespace {

using bytes = std::vector<uint8_t>;

const bytes ALIGN_REPORT{5, 0, 0x81, 0x81, 0};

bytes kb(std::initializer_list<uint8_t> report)
{
    return devsim_window::keyboard(report);
}

bool command_ok(devsim_window& d, const char* line)
{
    return d.dev->command(QString::fromLatin1(line)).startsWith(QLatin1String("ok"));
}

bool ready(devsim_window& d, int privilege)
{
    H264Video& w = *d.window;
    w.show();
    return pump_until([&] {
        return H264VideoInputPeer::writePrivilege(w) == privilege && !H264VideoInputPeer::privRequestPending(w) &&
               (privilege == 1 ? H264VideoInputPeer::sampleTimer(w) != 0 : H264VideoInputPeer::cannotGrabIcon(w));
    });
}

// What the give-up question looked like when it was answered.
struct question
{
    bool seen = false;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    int boxesOpen = 0;
};

// Answers the next message box with `answer` once it shows; `whileOpen` runs
// first, with the box open.
void answer_next_box(question& q, QMessageBox::StandardButton answer, std::function<void()> whileOpen = {})
{
    QTimer* poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, &q, answer, whileOpen] {
        QMessageBox* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        poll->stop();
        q.seen = true;
        q.title = box->windowTitle();
        q.text = box->text();
        q.buttons = box->standardButtons();
        q.defaultButton = box->standardButton(box->defaultButton());
        if (whileOpen)
            whileOpen();
        for (QWidget* top : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox*>(top) && top->isVisible())
                ++q.boxesOpen;
        box->button(answer)->click();
        poll->deleteLater();
    });
    poll->start();
}

size_t count_type(const std::vector<devsim_km_message>& msgs, uint8_t type)
{
    size_t n = 0;
    for (const auto& m : msgs)
        n += m.type() == type ? 1 : 0;
    return n;
}

}  // namespace

TEST(Privilege, GrantDropsPendingReportsThenAcknowledgesAlignsAndResyncsTheKeys)
{
    devsim_window d(1, [](c_devsim_options& o) { o.privilege = 0; });
    ASSERT_TRUE(d.started);
    H264Video& w = *d.window;
    ASSERT_TRUE(ready(d, 0));

    // Reports pile up while the device does not answer (200 ms each).
    d.dev->km().set_answer(false);
    const size_t mark = d.km_count();
    QAction ctrlAltDel;
    ctrlAltDel.setData(QStringLiteral("_taskMgr"));
    for (int i = 0; i < 10; ++i)
        w.onToolbarMenu(&ctrlAltDel);
    ASSERT_TRUE(d.wait_km_count(mark, CMD_KM_KEYBOARD, 1));

    // The alignment moves the cursor; that move would align once more, being
    // the first over the video.
    H264Video::m_alignOnNextMove = 0;
    ASSERT_TRUE(command_ok(d, "grab 0"));
    d.dev->km().set_answer(true);
    const long ack = d.wait_km_body(mark, {CMD_KM_GRAB_RESULT, 0});
    ASSERT_GE(ack, 0);
    ASSERT_TRUE(pump_until([&] { return H264VideoInputPeer::canGrabIcon(w); }));
    EXPECT_EQ(H264VideoInputPeer::writePrivilege(w), 1);
    EXPECT_EQ(H264VideoInputPeer::sampleIntervalMs(w), 20);

    // After the acknowledgement: the 20 alignment reports, then the keys as
    // they are held now (none), as the dropped reports may have left some down.
    QTest::keyPress(w.ui.label, Qt::Key_B);
    ASSERT_GE(d.wait_km_body(size_t(ack), kb({0, 0, 0x05})), 0);
    // (The moved cursor may also yield an absolute sample; not counted here.)
    std::vector<devsim_km_message> after;
    for (const auto& m : d.km_since(size_t(ack) + 1))
        if (m.type() != CMD_KM_MOUSE_ABS)
            after.push_back(m);
    ASSERT_EQ(after.size(), 22u);
    for (size_t i = 0; i < 20; ++i)
        EXPECT_EQ(after[i].body, ALIGN_REPORT) << i;
    EXPECT_EQ(after[20].body, kb({0}));
    EXPECT_EQ(after[21].body, kb({0, 0, 0x05}));

    // Of the twenty reports queued, the ones still waiting never went out.
    const auto all = d.km();
    const size_t sentBeforeAck =
        count_type(std::vector<devsim_km_message>(all.begin() + long(mark), all.begin() + ack), CMD_KM_KEYBOARD);
    EXPECT_GE(sentBeforeAck, 1u);
    EXPECT_LT(sentBeforeAck, 20u);
}

TEST(Privilege, RefusedGrabOrReadStateReleasesHeldInputAndPopsTheCursor)
{
    devsim_window d(1);
    ASSERT_TRUE(d.started);
    H264Video& w = *d.window;
    ASSERT_TRUE(ready(d, 1));
    QLabel* label = w.ui.label;
    H264Video::m_alignOnNextMove = 0;
    // Windows of earlier tests went away with their cursor still pushed.
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();

    // Shift held, pointer over the video.
    QEvent enter(QEvent::Enter);
    QCoreApplication::sendEvent(label, &enter);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    QTest::keyPress(label, Qt::Key_Shift);
    size_t mark = d.km_count();
    ASSERT_GE(d.wait_km_body(0, kb({2})), 0);

    ASSERT_TRUE(command_ok(d, "grab 1"));
    const long ack = d.wait_km_body(mark, {CMD_KM_GRAB_RESULT, 0});
    ASSERT_GE(ack, 0);
    ASSERT_TRUE(d.wait_km_count(size_t(ack), CMD_KM_MOUSE_REL, 20));
    std::vector<devsim_km_message> after;
    for (const auto& m : d.km_since(size_t(ack) + 1))
        if (m.type() != CMD_KM_MOUSE_ABS)
            after.push_back(m);
    ASSERT_EQ(after.size(), 21u);
    EXPECT_EQ(after[0].body, kb({0}));  // Shift let go before anything else
    for (size_t i = 1; i < 21; ++i)
        EXPECT_EQ(after[i].body, ALIGN_REPORT) << i;
    EXPECT_EQ(H264VideoInputPeer::writePrivilege(w), 0);
    EXPECT_TRUE(H264VideoInputPeer::cannotGrabIcon(w));
    EXPECT_EQ(H264VideoInputPeer::sampleTimer(w), 0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(H264VideoInputPeer::cursorPushed(w));
    // The release of the key is the label's own now.
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Shift, Qt::NoModifier);
    EXPECT_FALSE(w.eventFilter(label, &release));

    // Granted again, then a read state while Control is held.
    ASSERT_TRUE(command_ok(d, "privilege 1"));
    ASSERT_TRUE(pump_until([&] { return H264VideoInputPeer::sampleTimer(w) != 0; }));
    EXPECT_TRUE(H264VideoInputPeer::canGrabIcon(w));
    QCoreApplication::sendEvent(label, &enter);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    mark = d.km_count();
    QTest::keyPress(label, Qt::Key_Control);
    ASSERT_GE(d.wait_km_body(mark, kb({1})), 0);
    ASSERT_TRUE(command_ok(d, "privilege 0"));
    ASSERT_GE(d.wait_km_body(mark, kb({0})), 0);
    ASSERT_TRUE(pump_until([&] { return H264VideoInputPeer::sampleTimer(w) == 0; }));
    EXPECT_TRUE(H264VideoInputPeer::cannotGrabIcon(w));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(Privilege, GiveUpAnsweredYesLetsGoFirstThenAgreesAndStopsSampling)
{
    LogCapture log;
    devsim_window d(1);
    ASSERT_TRUE(d.started);
    H264Video& w = *d.window;
    ASSERT_TRUE(ready(d, 1));
    QTest::keyPress(w.ui.label, Qt::Key_Alt);
    ASSERT_GE(d.wait_km_body(0, kb({4})), 0);
    const size_t mark = d.km_count();

    question q;
    answer_next_box(q, QMessageBox::Yes);
    ASSERT_TRUE(command_ok(d, "giveup"));
    const long answer = d.wait_km_body(mark, {CMD_KM_GIVEUP, 0});
    ASSERT_GE(answer, 0);

    EXPECT_TRUE(q.seen);
    EXPECT_EQ(q.title, QString());
    EXPECT_EQ(q.text, QStringLiteral("do you want to giveUp privWrite"));
    EXPECT_EQ(q.buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(q.defaultButton, QMessageBox::No);
    EXPECT_EQ(q.boxesOpen, 1);

    // Alt released before the answer.
    const auto sent = d.km_since(mark);
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[size_t(answer) - mark - 1].body, kb({0}));
    EXPECT_EQ(H264VideoInputPeer::writePrivilege(w), 0);
    EXPECT_EQ(H264VideoInputPeer::sampleTimer(w), 0);
    EXPECT_TRUE(H264VideoInputPeer::cannotGrabIcon(w));
    EXPECT_TRUE(log.contains("mouse privilege ask grab."));
    EXPECT_TRUE(log.contains("priv pleaseGiveup_admit"));

    // One question, one answer.
    pump_for(100);
    EXPECT_EQ(count_type(d.km_since(mark), CMD_KM_GIVEUP), 1u);
}

TEST(Privilege, GiveUpAnsweredNoKeepsWriteAndNothingIsReadWhileTheQuestionIsOpen)
{
    LogCapture log;
    devsim_window d(1);
    ASSERT_TRUE(d.started);
    H264Video& w = *d.window;
    ASSERT_TRUE(ready(d, 1));
    const size_t mark = d.km_count();

    question q;
    int privilegeWhileOpen = -1;
    answer_next_box(q, QMessageBox::No, [&] {
        // A read state sent now waits behind the question.
        command_ok(d, "privilege 0");
        pump_for(300);
        privilegeWhileOpen = H264VideoInputPeer::writePrivilege(w);
    });
    ASSERT_TRUE(command_ok(d, "giveup"));
    ASSERT_GE(d.wait_km_body(mark, {CMD_KM_GIVEUP, 1}), 0);
    EXPECT_TRUE(q.seen);
    EXPECT_EQ(q.boxesOpen, 1);  // the privilege timer's ticks open no second box
    EXPECT_EQ(privilegeWhileOpen, 1);
    EXPECT_TRUE(log.contains("Priv pleaseGiveup_refuse"));
    EXPECT_FALSE(log.contains("priv pleaseGiveup_admit"));

    // Then the waiting read state is taken.
    ASSERT_TRUE(pump_until([&] { return H264VideoInputPeer::cannotGrabIcon(w); }));
    EXPECT_EQ(H264VideoInputPeer::writePrivilege(w), 0);
    EXPECT_EQ(count_type(d.km_since(mark), CMD_KM_GIVEUP), 1u);
}

TEST(Privilege, EncipheredGrantArrivesWithLengthOneAndIsIgnored)
{
    LogCapture log;
    devsim_window d(1, [](c_devsim_options& o) { o.kmCipher = c_devsim_options::KmCipher::Always; });
    ASSERT_TRUE(d.started);
    H264Video& w = *d.window;
    ASSERT_TRUE(ready(d, 1));
    const size_t mark = d.km_count();

    // 22 00 enciphered loses its 00 on the way in; 22 01 keeps its value.
    ASSERT_TRUE(command_ok(d, "grab 0"));
    ASSERT_TRUE(command_ok(d, "grab 1"));
    ASSERT_GE(d.wait_km_body(mark, {CMD_KM_GRAB_RESULT, 0}), 0);
    ASSERT_TRUE(pump_until([&] { return H264VideoInputPeer::cannotGrabIcon(w); }));
    pump_for(100);
    EXPECT_EQ(count_type(d.km_since(mark), CMD_KM_GRAB_RESULT), 1u);
    int results = 0;
    for (const std::string& l : log.lines())
        results += l.find("grab KM privilege OK") != std::string::npos ? 1 : 0;
    EXPECT_EQ(results, 1);
    EXPECT_EQ(H264VideoInputPeer::writePrivilege(w), 0);
}

TEST(Privilege, ClosingWhileARequestWaitsForTheWindowDoesNotHang)
{
    devsim_window d(1);
    ASSERT_TRUE(d.started);
    H264Video& w = *d.window;
    ASSERT_TRUE(ready(d, 1));

    // The receive thread posts the question and waits; the GUI thread never
    // runs its timer again because the window goes away first.
    ASSERT_TRUE(command_ok(d, "giveup"));
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!H264VideoInputPeer::privRequestPending(w) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(H264VideoInputPeer::privRequestPending(w));
    d.window.reset();  // returns: the receive thread stops waiting when told to stop
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(Privilege, MessagesAreTakenFromTheirValueByteOnAndIgnoredBelowIt)
{
    devsim_window d(1);
    ASSERT_TRUE(d.started);
    H264Video& w = *d.window;
    ASSERT_TRUE(command_ok(d, "privilege 0"));
    ASSERT_TRUE(ready(d, 0));

    // A write state with a byte after its value gives control.
    const uint8_t state[] = {CMD_KM_PRIVILEGE, 0x01, 0x05};
    ASSERT_TRUE(d.dev->km().send_body(state, sizeof state));
    ASSERT_TRUE(ready(d, 1));

    // A state without its value changes nothing; the give-up request behind
    // it, with a value byte of its own, is asked all the same. The receive
    // thread takes them in order, so the state has been seen by then.
    const size_t mark = d.km_count();
    const uint8_t bare[] = {CMD_KM_PRIVILEGE};
    const uint8_t giveup[] = {CMD_KM_GIVEUP, 0x01};
    question q;
    answer_next_box(q, QMessageBox::No);
    ASSERT_TRUE(d.dev->km().send_body(bare, sizeof bare));
    ASSERT_TRUE(d.dev->km().send_body(giveup, sizeof giveup));
    ASSERT_GE(d.wait_km_body(mark, {CMD_KM_GIVEUP, 1}), 0);
    EXPECT_TRUE(q.seen);
    EXPECT_EQ(H264VideoInputPeer::writePrivilege(w), 1);
    EXPECT_NE(H264VideoInputPeer::sampleTimer(w), 0);
    EXPECT_FALSE(H264VideoInputPeer::cannotGrabIcon(w));
}

TEST(Privilege, GiveUpRequestsBackToBackAreAskedOnceAndAnsweredAlike)
{
    devsim_window d(1);
    ASSERT_TRUE(d.started);
    ASSERT_TRUE(ready(d, 1));
    const size_t mark = d.km_count();

    // While the question is open the device asks five times more.
    question q;
    answer_next_box(q, QMessageBox::No, [&] {
        for (int i = 0; i < 5; ++i)
            command_ok(d, "giveup");
    });
    ASSERT_TRUE(command_ok(d, "giveup"));
    ASSERT_TRUE(d.wait_km_count(mark, CMD_KM_GIVEUP, 6, 10000));
    EXPECT_TRUE(q.seen);
    pump_for(200);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "a second question opened";
    for (const devsim_km_message& m : d.km_since(mark, CMD_KM_GIVEUP))
        EXPECT_EQ(m.body, (std::vector<uint8_t>{CMD_KM_GIVEUP, 1}));
}
