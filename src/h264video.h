#pragma once
// The main window: rendering, input translation, tool bar and dialogs. The
// channels live in widget-free classes (c_km_channel, c_video_channel, and the
// media dialog's c_media_protocol) that connect again by themselves after a
// loss; the window shows their state and forwards to them. Its roles live in
// separate files:
//   h264video_core.cpp       construction, destruction, session start, timers, KM glue
//   h264video_video.cpp      video glue and the channel-state overlay
//   h264video_view.cpp       rendering, no-signal picture, full screen, optimum size,
//                            window size file, cursor, mouse mapping and alignment
//   h264video_input.cpp      event filter (keyboard, mouse, focus, close), mouse sampling and its
//                            settings dialog, LED state
//   h264video_privilege.cpp  control privilege: hand-off from the KM receive thread, grab icon
//   h264video_keymenu.cpp    key file, key setting dialog and the tool bar's key menu
//   h264video_form.{h,cpp}   the generated-form part: widgets and tool bar actions
#include <QColor>
#include <QDateTime>
#include <QElapsedTimer>
#include <QImage>
#include <QMainWindow>
#include <QPoint>
#include <QSize>
#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <vector>

#include "h264video_form.h"
#include "tools/socket/c_channel_keeper.h"
#include "tools/socket/recent_samples.h"
#include "view/c_draw_pacer.h"

class QLabel;
class QTimer;
class c_km_channel;
class c_video_channel;
class c_video_pipeline;
class c_stream_recorder;
class c_picture_view;
class c_mouse_translator;
class c_key_translator;
class c_ui_u_setting_dlg;
class c_session_status;
class c_session_overlay;
class c_desktop_input;
class c_character_keys;
class c_text_typer;
class c_session_bus;

// ---- used by input capture, control privilege and the key menu ----
#include "tools/key_mouse/c_led_sync.h"
#include "app/paths.h"
#include "ui/sys_key_info.h"
class c_key_file;
class sysKeyConfig;
class QAction;
class QKeyEvent;
class QMenu;
class QMessageBox;

class H264Video : public QMainWindow
{
    Q_OBJECT
    // Tests reach the session's internals through this peer (tests/common).
    friend class H264VideoTestPeer;

public:
    explicit H264Video(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~H264Video() override;

    // ---- channels ----

    // Video channel messages (receive thread): forwarded to the video channel.
    unsigned char on_net_msg(const void* sender, const unsigned char* body, unsigned int plainLenField,
                             unsigned int bodyLen);
    // Sends at most one queued KM message and waits up to 200 ms for the
    // device's answer. True when it sent one. The KM channel's own send thread
    // calls this; tests that turned that thread off call it themselves.
    bool sync();
    // Whether the KM channel runs its own send thread (process-wide, on by
    // default). Tests that drive sync() themselves turn it off before building a window.
    static void setKmTakeover(bool on) { s_kmOwnSender.store(on); }

    // ---- KM send list, any thread ----

    // Frames (and enciphers, except type 50) one KM message and appends it.
    // Dropped while the KM channel is down.
    void sendKmMessage(unsigned char type, int length, const unsigned char* payload);
    // Frames a message with the one-byte payload 0 and puts it first (keep-alive).
    void prependKmMessage(unsigned char type);
    // Messages queued and not yet sent (pasted text keeps only a few ahead).
    size_t kmQueueLength();
    void clearKmQueue();

    // The channels (null before the session started).
    c_km_channel* kmChannel() const { return m_km.get(); }
    c_video_channel* videoChannel() const { return m_video.get(); }

    // ---- view, GUI thread ----

    // Maps the cursor's position to the 1920 x 1200 grid and queues one absolute
    // report with m_absButtons and the wheel (-1, 0, 1). Nothing outside the
    // picture, unless clampToEdge: then the position on its nearest edge.
    void sendAbsoluteMouse(int8_t wheel, bool clampToEdge = false);
    // Maps a local position (relative to m_videoOrigin) to relative reports.
    void sendRelativeMouse(const QPoint& p);
    // Cursor changes when the pointer enters or leaves the video label.
    void enterVideo();
    void leaveVideo();
    // Writes the window's size to clientSize.config (called on close).
    void writeClientSize();
    // The area beside the tool bar that the video label fills.
    QSize displayArea() const;

    bool eventFilter(QObject* watched, QEvent* event) override;

    // Runs mouse alignment on the next mouse move over the video (process-wide).
    static uint8_t m_alignOnNextMove;

signals:
    // Emitted on the video receive thread when a new picture waits in the
    // hand-over; queued to on_slot_decode_one_frame. It carries a null image: the
    // slot takes the newest picture itself, so pictures never pile up in the
    // event queue and the decoder never writes into one being shown.
    void signal_decode_one_frame(QImage image);

public slots:
    // One KM message from the device (KM receive thread).
    void HandleKMData(const void* sender, const unsigned char* data, unsigned int plainLenField, unsigned int len);

    void on_full_screen();
    void on_slot_optRes();
    void on_slot_mouse_align();
    void on_slot_mouseShow();
    void on_slot_show_video_seting();
    void on_slot_u_setting_show();
    void onKeySetting();
    // Renders image; a null image means the newest decoded picture.
    void on_slot_decode_one_frame(QImage image);

protected:
    void timerEvent(QTimerEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // ---- session (core) ----
    void startSession();
    void loadConfigFile();
    bool create_km_socket(const char* host, unsigned int port);
    // Shows the connection error box (its text, and below it the address and
    // the system's reason) and ends the process with exit code 0.
    [[noreturn]] void failConnect(const char* text, const std::string& reason = std::string());
    void stopChannels();

    // ---- video channel ----
    bool videoOpen();
    // Size of the last decoded picture, 0 x 0 before the first.
    QSize decodedSize() const;
    std::shared_ptr<c_video_pipeline> currentPipeline() const;

    // ---- channel state (GUI thread): kept by m_status, shown by m_overlay ----
    void setupSessionStatus();
    // A channel's keeper reported a state (any thread): passed to m_status.
    void postChannelState(const QString& channel, channel_state state, int attempt, const std::string& reason);
    void retryRefusedChannels();

    // ---- statistics overlay and notice line (h264video_stats.cpp) ----
    void setupStats();
    void setStatsShown(bool on);
    void refreshStats();
    // A picture from the stream was drawn (counts, and its latency).
    void noteShownPicture();
    // Once a second: notices about the media channel.
    void checkNotices();
    struct StatsSample
    {
        qint64 at = 0;
        uint64_t bytes = 0;
        uint64_t received = 0;
        uint64_t shown = 0;
        uint64_t sectors = 0;
    };
    QLabel* m_statsLabel = nullptr;
    QTimer* m_statsTimer = nullptr;
    QElapsedTimer m_statsClock;
    StatsSample m_statsLast;
    uint64_t m_picturesShown = 0;
    recent_samples m_showLatencies;  // last byte -> shown, us
    bool m_mediaStallNoticed = false;
    uint64_t m_writeFailuresNoticed = 0;

    // ---- view ----
    void layoutLabel();
    void readClientSize();
    // A window size kept within the available area of the window's screen.
    QSize clampedWindowSize(const QSize& wanted) const;
    QString clientSizePath() const;
    void showOptResToolTip();
    // Shows picture, converted for a remote picture of source pixels (its
    // own size when empty: the no-signal picture).
    void renderPicture(const QImage& picture, QSize source = QSize());
    // The widget inside the label that paints the picture (made on first use).
    c_picture_view* pictureView();
    // Origin, size and scale of the picture as the mouse mapping uses them,
    // from where the picture view has it (scrolling and resizing move it).
    void updateViewMapping();
    void on_actual_size(bool on);
    // The picture last shown, converted again after a resize or mode change.
    void convertShownAgain();

public:
    // The generated form: the video label `label`, the tool bar and its actions.
    Ui::H264VideoClass ui;

private:
    // ---- channels ----
    std::unique_ptr<c_km_channel> m_km;
    std::unique_ptr<c_video_channel> m_video;
    static std::atomic<bool> s_kmOwnSender;
    c_session_status* m_status = nullptr;
    c_session_overlay* m_overlay = nullptr;

    // ---- translators ----
    std::shared_ptr<c_mouse_translator> m_mouseTranslator;
    std::shared_ptr<c_key_translator> m_keyTranslator;

    // ---- view (GUI thread) ----
    QSize m_frameSize{-1, -1};
    QSize m_areaSize{-1, -1};
    QPoint m_videoOrigin{0, 0};
    QSize m_scaledSize{0, 0};
    float m_scaleX = 1.0f;
    float m_scaleY = 1.0f;
    uint32_t m_lastRenderTick = 0;
    // Decoded pictures are drawn at most once per 12 ms on average, two in a
    // row allowed: a burst faster than the screen refreshes would otherwise
    // spend a core on drawing pictures nobody sees, taken from decoding (the
    // newest one waits in the hand-over meanwhile), while a 60/s stream with
    // jitter never waits. 12 ms keeps a burst to about 80 draws a second
    // (8 ms gave 125, and decoding at full speed lost 5 %).
    c_draw_pacer m_drawPacer{12.0, 2.0};
    QElapsedTimer m_pictureClock;
    double pictureClockMs() const { return double(m_pictureClock.nsecsElapsed()) / 1e6; }
    bool m_pictureDeferred = false;
    bool m_noSignalShown = false;  // logged once per outage
    QImage m_noSignalImage;
    QColor m_backgroundColor;
    c_picture_view* m_pictureView = nullptr;  // child of the label
    bool m_stillShown = false;                // the no-signal picture is what the view shows
    uint8_t m_isFullScreen = 0;
    uint8_t m_alignOnNextFrame = 1;
    int32_t m_cursorShown = 1;
    bool m_cursorPushed = false;  // an override cursor of ours is on the stack
    QPoint m_lastLocalPos{0, 0};
    float m_fracX = 0.0f;
    float m_fracY = 0.0f;

    // ---- input ----
    int32_t m_absButtons = 0;  // absolute-mode buttons: 0 none, 1 left, 2 right
    // Mouse sampling timer: 0 while not sampling (no write privilege),
    // SAMPLE_RESTING while sampling but idle for want of moves.
    int m_sampleTimer = 0;
    static constexpr int SAMPLE_RESTING = -1;
    void resumeSampling();

    // ---- timers ----
    int m_noSignalTimer = 0;

    // ---- LED ----
    QDateTime m_ledHoldUntil;

    // ---- virtual media: the dialog owns the media channel, whose send thread
    //      calls sync(); hidden until the tool bar opens it ----
    c_ui_u_setting_dlg* m_mediaDialog = nullptr;

    // ======== input capture, control privilege, LED state, key menu ========
    // (h264video_input.cpp, h264video_privilege.cpp, h264video_keymenu.cpp)
    friend class H264VideoInputPeer;

public:
    // Privilege request kinds handed from the KM receive thread to the GUI thread.
    enum PrivRequestKind
    {
        PRIV_STATE = 15201,
        PRIV_GIVEUP = 15202,
        PRIV_GRAB_RESULT = 15203
    };

    // The device's lock LED bits (video receive thread). Ignored until m_ledHoldUntil.
    void applyLedState(uint8_t bits);

    // KM receive thread: hands the request to the GUI thread and blocks until
    // it has been handled (or the receive thread is told to stop).
    void postPrivRequest(int kind, int value);

public slots:
    // Dispatcher of the key menu's entries (by their data string).
    void onToolbarMenu(QAction* action);
    // The key setting dialog's edited map: saved to key.xml, menu rebuilt.
    void on_updateSyskey(QMap<QString, std::vector<SYSTEMKEYINFO> >& mSyskey);

private:
    // ---- hooks called by the core ----
    // Construction: key file, key setting dialog, key menu and its tool button.
    void setupKeyMenu();
    // Construction: where the lock LEDs go (the X display on X11).
    void setupLedSync();
    // HandleKMData, KM receive thread: message types 20 to 23.
    void handlePrivilegeMessage(const unsigned char* data, unsigned int len);
    // timerEvent: ticks of m_sampleTimer.
    void onSampleTimer();

    // ---- input capture ----
    bool filterWindowEvent(QEvent* event);
    bool filterLabelEvent(QEvent* event);
    // Logs "<prefix>,keyBuf=b0,...,b7" and queues the keyboard report.
    void sendKeyboardReport(const char* prefix, const unsigned char* report);
    // The HID usage of a key event's physical key (its native scan code on X11
    // and Wayland); 0 when the key is to go by character.
    uint8_t positionUsage(const QKeyEvent* event) const;
    // Ctrl+Alt+Shift+V (paste) and Ctrl+Alt+Shift+F12 (release the keyboard,
    // leave full screen): handled here, with or without write privilege.
    bool handleLocalChord(QEvent* event);
    // Grabs the keyboard in full screen and while "Grab Keyboard" is on,
    // unless a modal dialog needs the keys; lets it go otherwise.
    void updateKeyboardGrab();
    void releaseGrabAndFullScreen();
    // Construction: keyboard settings from config.xml, the grab action.
    void setupKeyboardInput();
    void saveInputSettings();
    // Pasted text typed on the remote computer (h264video_paste.cpp).
    void onPasteText();
    void onRemoteLayout();
    // Sends the all-zero keyboard report when the translator believes keys are
    // held (or always, with forceKeyboard), and forgets them; the same for held
    // mouse buttons.
    void releaseHeldInput(bool forceKeyboard);
    // Starts (or restarts) the sampling timer at 1000 / mouseRate ms.
    void startSampleTimer();
    void stopSampleTimer();

    // ---- control privilege ----
    void handlePrivRequest(int kind, int value);
    void setGrabIcon(bool canGrab);
    void gainWritePrivilege();
    // Read privilege now: held input released, cursor popped, sampling stopped.
    void loseWritePrivilege();

    // ---- key menu ----
    void fillKeyMenu(QMenu* menu);
    QMenu* keyMenu() const;

    // 1 while the client holds write privilege; the KM receive thread writes it too.
    std::atomic<int32_t> m_writePrivilege{0};
    int32_t m_mouseMoved = 0;
    // Set after the video settings dialog closes: the sampling timer restarts
    // with the new rate at its next tick.
    uint8_t m_restartSampleTimer = 0;

    // Requests handed to the GUI thread and not yet handled.
    std::atomic<int32_t> m_privRequestPending{0};
    // The give-up question: one at a time; a request within 2 s of the last
    // answer gets that answer again without asking, so a device cannot keep
    // the question open for ever.
    QMessageBox* m_giveupBox = nullptr;
    QElapsedTimer m_giveupAnswered;
    unsigned char m_giveupLastReply = 1;

    c_led_sync m_ledSync{kvm_paths::executable_dir()};  // companions sit beside the executable

    SysKeyMap m_sysKeyMap;
    std::shared_ptr<c_key_file> m_keyFile;
    std::shared_ptr<sysKeyConfig> m_sysKeyConfig;  // no parent, hidden until opened
    QAction* m_keyMenuAction = nullptr;            // the tool bar's action for the key menu button

    // ---- keyboard settings, pasted text, keyboard grab ----
    bool m_keysByPosition = true;                  // config.xml keyboardMode
    QString m_remoteLayout = QStringLiteral("us");  // config.xml remoteLayout
    uint32_t m_chordScanCode = 0;                  // a chord's key: its release stays local
    QAction* m_grabKeyboardAction = nullptr;       // tool bar toggle "Grab Keyboard"
    bool m_keyboardGrabbed = false;
    // Keyboard grab state, pointer lock and key positions as the desktop has
    // them (src/platform); the lock indicator shows the device's lock keys
    // where the local LEDs cannot follow them.
    std::unique_ptr<c_desktop_input> m_desktop;
    QLabel* m_lockIndicator = nullptr;
    void setupDesktopInput();
    void showKeyboardGrabState(int state);
    void showLockState(uint8_t bits);
    // A virtual keyboard's character key: the report that types it remotely.
    bool characterKey(const QKeyEvent* event, bool pressed, unsigned char* report);
    std::unique_ptr<c_character_keys> m_characterKeys;
    // Relative mode with write privilege: the pointer locked where the desktop can.
    void lockPointerForRelativeMode();
    bool m_desktopAttached = false;
    // Text typed on the remote computer (pasted, or asked for on the session bus).
    std::unique_ptr<c_text_typer> m_typer;
    struct paste_job;
    std::shared_ptr<paste_job> m_paste;            // while pasted text is being typed

    // ======== the session-bus interface for scripts (h264video_bus.cpp) ========
    void setupBus();
    std::unique_ptr<c_session_bus> m_bus;

    // ======== screenshot and recording (h264video_record.cpp) ========
public:
    // A short message for the user (the status line).
    void showNotice(const QString& text);
    // Key menu: the last decoded picture, at its own size, as PNG in the
    // user's pictures directory.
    void saveScreenshot();
    // Ends a running recording (its file closed with its index) and says why.
    void stopRecording(const QString& why);

private:
    // Construction: the recorder and the tool bar's Record toggle.
    void setupRecording();
    // Each video channel connection: the new pipeline feeds the recorder.
    void attachRecording(const std::shared_ptr<c_video_pipeline>& pipeline);
    void onRecordToggled(bool on);

    // Fed by the pipeline on the video receive thread; the tap holds it too.
    std::shared_ptr<c_stream_recorder> m_recorder;
    class c_recording_badge* m_recordingBadge = nullptr;  // child of the picture label
};
