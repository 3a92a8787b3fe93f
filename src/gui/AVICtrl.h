#pragma once
// A window that plays the video stream of an uncompressed AVI clip frame by
// frame on timer 111, optionally with one colour transparent so that what
// lies under it shows through. Clips from the program's resources are first
// copied to a temporary file, deleted again when the control closes.
#include <QImage>
#include <QWidget>
#include <string>

#include "AviFile.h"
#include "MessageTarget.h"

// Open flags.
enum : uint32_t {
    AVC_HALFSPEED = 0x01,             // frame interval doubled
    AVC_DOUBLESPEED = 0x02,           // frame interval halved (without 0x01)
    AVC_CENTERAVI = 0x04,             // keep the size, natural frame size, centred
    AVC_STRETCHAVI = 0x08,            // keep the size, frame drawn over the client area
    AVC_CENTERRECT = 0x10,            // after resizing to the frame, keep it centred
    AVC_AUTOPLAY = 0x20,              // play (looping) at once
    AVC_USEBGCOLOR = 0x40,            // plain background in the window colour
    AVC_FIRSTFRAMETRANSPARENT = 0x80, // transparent colour from the first frame
};

class CAVICtrl : public QWidget, public platform::gui::MessageTarget {
    Q_OBJECT
public:
    explicit CAVICtrl(QWidget* parent = nullptr);
    ~CAVICtrl() override;

    // Takes the place of a placeholder control (its parent, geometry and
    // name); the placeholder is hidden. False when there is none.
    bool Attach(QWidget* placeholder);

    HRESULT OpenFromResource(unsigned id, uint32_t flags, COLORREF colour);
    HRESULT Open(const std::string& path, uint32_t flags, COLORREF colour);
    bool Play(bool once);
    void Stop(bool resetToFirstFrame);
    void Close();
    // One timer tick: the next frame.
    void TimerProc();

    bool IsOpen() const { return m_clip.IsOpen(); }
    bool IsPlaying() const { return m_playing; }
    int GetFrameCount() const { return m_clip.FrameCount(); }
    int GetCurrentFrame() const { return m_currentFrame; }
    int GetFrameInterval() const { return m_frameInterval; }
    uint32_t GetFlags() const { return m_flags; }
    COLORREF GetTransparentColour() const { return m_transparent; }
    QPoint GetDrawOffset() const { return m_drawOffset; }
    QSize GetDrawSize() const { return m_drawSize; }
    unsigned GetResourceId() const { return m_resourceId; }
    const std::string& GetTempFile() const { return m_csTempFile; }
    // The current frame with its transparent pixels cleared, as it is drawn.
    QImage CurrentFrameImage() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void OnTimer(unsigned id) override;

private:
    void Reset();
    // A new temporary file "AVC<ticks>.AVI", created exclusively; "" when none.
    static std::string CreateTempFile(int& fd);

    AviClip m_clip;
    std::string m_csTempFile;
    int m_currentFrame = 0;
    int m_frameInterval = 0;
    bool m_once = false;
    bool m_playing = false;
    uint32_t m_flags = 0;
    COLORREF m_transparent = 0;
    QPoint m_drawOffset;
    QSize m_drawSize;
    bool m_backgroundDirty = true;
    unsigned m_resourceId = 0;
};
