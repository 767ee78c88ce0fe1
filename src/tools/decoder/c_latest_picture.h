#ifndef KVM_TOOLS_DECODER_C_LATEST_PICTURE_H
#define KVM_TOOLS_DECODER_C_LATEST_PICTURE_H

#include <QImage>

#include <memory>
#include <mutex>

struct AVFrame;

// Hand-over point between the decoding thread and the GUI thread that holds
// at most one decoded picture (a reference to the decoder's frame, not yet
// converted): a newer picture replaces one not yet shown, so a slow GUI
// never makes pictures (or queued notices) pile up.
//
// put() says when the consumer needs a notice: only if none is outstanding,
// that is, if take() has run since the last notice.
//
// A picture may come already converted for the screen (converted while it
// was decoded); the consumer uses that image if its size is still right.
class c_latest_picture
{
public:
    struct handed
    {
        std::shared_ptr<const AVFrame> picture;
        QImage converted;
    };

    c_latest_picture() = default;

    c_latest_picture(const c_latest_picture&) = delete;
    c_latest_picture& operator=(const c_latest_picture&) = delete;

    // Producer: stores picture in place of any pending one. Returns true when
    // the consumer must be notified.
    bool put(std::shared_ptr<const AVFrame> picture, QImage converted = QImage());

    // Consumer: the newest picture not yet taken (a null picture if none).
    handed take();

    bool has_pending() const;

private:
    mutable std::mutex m_mutex;
    handed m_pending;
    bool m_notice_out = false;
};

#endif
