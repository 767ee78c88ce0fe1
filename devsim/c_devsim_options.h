#pragma once
// Everything a devsim run can be told: ports, identity, frame keys, picture,
// KM and media behaviour. Filled from the command line by parse(), or set
// field by field by tests that run the device in-process.
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>

class c_devsim_options
{
public:
    // Fixed defaults; the media port matches the viewer's own default.
    static constexpr uint16_t DEFAULT_PORT_VIDEO = 5916;
    static constexpr uint16_t DEFAULT_PORT_KM = 5917;
    static constexpr uint16_t DEFAULT_PORT_MEDIA = 5918;
    static constexpr uint16_t DEFAULT_PORT_CONTROL = 5919;

    // The frame keys start random; parse() or the caller may set them.
    c_devsim_options() { randomKeys(); }

    // Ports; 0 lets the system choose (the launch string then shows the real ones).
    uint16_t portVideo = DEFAULT_PORT_VIDEO;
    uint16_t portKM = DEFAULT_PORT_KM;
    uint16_t portMedia = DEFAULT_PORT_MEDIA;
    uint16_t portControl = DEFAULT_PORT_CONTROL;
    bool controlPort = true;  // listen for control connections at all

    // Identity announced in the launch string.
    uint32_t dogID = 0;
    QString userNM = QStringLiteral("admin");
    uint32_t userID = 1;
    uint32_t mouseMode = 1;  // 0 relative, 1 absolute
    // Login: every user identification refused (50 01); or each connection
    // closed right after its user identification is answered, as a device
    // does whose key does not match.
    bool refuseLogin = false;
    bool closeAfterOpening = false;

    // desEncode: the device enciphers with it, the viewer deciphers what it receives.
    // desDecode: the viewer enciphers KM messages with it, the device deciphers them.
    std::array<uint8_t, 8> desEncode{};
    std::array<uint8_t, 8> desDecode{};

    // Picture.
    int width = 1280;
    int height = 720;
    int fps = 30;
    int pictureLimit = 0;  // pictures sent per connection, then nothing (a still screen); 0: no limit
    int fragmentSize = 60 * 1024;  // payload bytes per type-6 message
    bool videoCipher = true;       // first 16 body bytes enciphered
    int pictureStep = 8;           // pixels per position request
    int crf = 23;                  // encoder quality (lower is better)
    int bitrateKbps = 0;           // > 0: average bit rate instead of crf
    QString x11Display;            // empty: synthetic desktop

    // KM channel.
    int kmDelayMs = 0;
    bool kmAnswer = true;
    enum class KmCipher { Auto, Always, Never };
    KmCipher kmCipher = KmCipher::Auto;
    int privilege = 1;  // 1 write, 0 read

    // Media channel.
    int readChunk = 128;  // sectors per read wish
    bool readWholeDisk = true;
    QString mediaOut = QStringLiteral("devsim-media.img");
    bool mediaOutGiven = false;  // set by parse() for --media-out

    // Events and control.
    QString eventsFile = QStringLiteral("devsim-events.jsonl");  // empty: none
    bool eventsFileGiven = false;                                 // set by parse() for --events
    int eventsHexMax = 64;                                        // bytes of payload shown; 0 all
    bool readStdin = true;
    bool verbose = false;
    bool busyWait = false;  // look for the viewer's next message before sleeping

    // Fills both keys with fresh random bytes.
    void randomKeys();

    // Parses the arguments (argv[0] excluded). Returns false with a message in
    // *error for bad input; *help is set for --help.
    bool parse(const QStringList& args, QString* error, bool* help);

    // The program's defaults for the files not given on the command line: a
    // new directory "devsim-XXXXXX" under $XDG_RUNTIME_DIR, else under the
    // temporary directory, named in *dir (empty when both were given).
    bool placeDefaultFiles(QString* dir, QString* error);

    // The option summary printed by --help.
    static QString usage();

    // The viewer's launch string for the given real ports, percent-encoded:
    // "%7BdesEncode%3A...%2C...%7D".
    QString launchString(uint16_t video, uint16_t km, uint16_t media) const;
};
