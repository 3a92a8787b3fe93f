#include "AVICtrl.h"

#include "Clock.h"

#include <QPainter>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <thread>
#include <unistd.h>

#include "Delays.h"
#include "Resources.h"
#include "stdafx.h"

using namespace platform::gui;

CAVICtrl::CAVICtrl(QWidget* parent) : QWidget(parent) { Reset(); }

CAVICtrl::~CAVICtrl()
{
    Close();
    Detach();
}

void CAVICtrl::Reset()
{
    m_clip.Clear();
    m_currentFrame = 0;
    m_drawOffset = QPoint(0, 0);
    m_playing = false;
    m_backgroundDirty = true;
}

bool CAVICtrl::Attach(QWidget* placeholder)
{
    if (placeholder == nullptr || placeholder->parentWidget() == nullptr)
        return false;
    setParent(placeholder->parentWidget());
    setGeometry(placeholder->geometry());
    setObjectName(placeholder->objectName());
    placeholder->hide();
    show();
    return true;
}

std::string CAVICtrl::CreateTempFile(int& fd)
{
    std::error_code error;
    std::filesystem::path folder = std::filesystem::temp_directory_path(error);
    if (error || folder.empty())
        return {};
    for (;;) {
        auto ticks =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
                .count();
        char name[32];
        std::snprintf(name, sizeof name, "AVC%X.AVI", static_cast<unsigned>(ticks));
        platform::SleepMs(RealDelayMs(Delay::AviTempNamePause));
        std::string path = (folder / name).string();
        // Exclusive creation: a name another control took in the meantime
        // is skipped like an existing file.
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0)
            return path;
        if (errno != EEXIST)
            return {};
    }
}

HRESULT CAVICtrl::OpenFromResource(unsigned id, uint32_t flags, COLORREF colour)
{
    if (IsOpen() || !m_csTempFile.empty()) {
        Close();
        Reset();
    }
    QByteArray bytes = LoadResource("AVI", id);
    if (bytes.isEmpty()) {
        DebugTrace("FindRes error=%lu\n", 1813ul); // no such resource
        return E_FAIL;
    }
    int fd = -1;
    std::string path = CreateTempFile(fd);
    if (path.empty()) {
        DebugTrace("Failed opening temp file\n");
        return E_FAIL;
    }
    const char* data = bytes.constData();
    size_t left = static_cast<size_t>(bytes.size());
    while (left > 0) {
        ssize_t n = ::write(fd, data, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            DebugTrace("Failed writing temp file: %d\n", errno);
            ::close(fd);
            ::unlink(path.c_str());
            return E_FAIL;
        }
        data += n;
        left -= static_cast<size_t>(n);
    }
    ::close(fd);
    m_csTempFile = path;
    m_resourceId = id;
    HRESULT result = Open(path, flags, colour);
    if (result != S_OK)
        Close(); // also deletes the temporary file
    return result;
}

HRESULT CAVICtrl::Open(const std::string& path, uint32_t flags, COLORREF colour)
{
    if (IsOpen()) {
        // Keep a temporary file that is the very file being opened.
        std::string keep = path == m_csTempFile ? m_csTempFile : std::string();
        if (!keep.empty())
            m_csTempFile.clear();
        Close();
        m_csTempFile = keep;
        Reset();
    }
    HRESULT result = m_clip.Open(path);
    if (result != S_OK)
        return result;
    m_flags = flags;
    m_transparent = colour;
    const int frames = m_clip.FrameCount();
    long interval = m_clip.TotalTimeMs() / frames;
    if (flags & AVC_HALFSPEED)
        interval *= 2;
    else if (flags & AVC_DOUBLESPEED)
        interval /= 2;
    m_frameInterval = interval < 1 ? 1 : static_cast<int>(std::min<long>(interval, 60000));

    const QSize frame(m_clip.Width(), m_clip.Height());
    const QSize client = size();
    const QPoint centre(frame.width() < client.width() ? (client.width() - frame.width()) / 2 : 0,
                        frame.height() < client.height() ? (client.height() - frame.height()) / 2 : 0);
    m_drawSize = client;
    if (flags & AVC_CENTERAVI) {
        m_drawOffset = centre;
        m_drawSize = frame;
    } else if (!(flags & AVC_STRETCHAVI)) {
        resize(frame);
        m_drawSize = frame;
        if (flags & AVC_CENTERRECT)
            move(pos() + centre);
    }
    if (!(flags & AVC_USEBGCOLOR) && (flags & AVC_FIRSTFRAMETRANSPARENT))
        m_transparent = m_clip.FirstFrameColour();
    if (flags & AVC_AUTOPLAY)
        Play(false);
    update();
    return S_OK;
}

bool CAVICtrl::Play(bool once)
{
    if (!IsOpen())
        return false;
    m_once = once;
    if (m_playing) {
        m_currentFrame = 0;
        update();
        return true;
    }
    update();
    if (SetTimer(TIMER_AVI_FRAME, static_cast<unsigned>(m_frameInterval)) == 0)
        return false;
    m_playing = true;
    return true;
}

void CAVICtrl::Stop(bool resetToFirstFrame)
{
    if (resetToFirstFrame) {
        m_currentFrame = 0;
        update();
    }
    if (m_playing) {
        KillTimer(TIMER_AVI_FRAME);
        m_playing = false;
    }
}

void CAVICtrl::TimerProc()
{
    if (!IsOpen())
        return;
    if (++m_currentFrame >= m_clip.FrameCount()) {
        m_currentFrame = 0;
        if (m_once)
            Stop(true);
    }
    update();
}

void CAVICtrl::OnTimer(unsigned id)
{
    if (id == TIMER_AVI_FRAME)
        TimerProc();
}

void CAVICtrl::Close()
{
    if (m_playing)
        Stop(false);
    m_clip.Clear();
    if (!m_csTempFile.empty()) {
        std::error_code error;
        std::filesystem::remove(m_csTempFile, error);
        m_csTempFile.clear();
    }
    update();
}

QImage CAVICtrl::CurrentFrameImage() const
{
    const uint32_t* pixels = m_clip.Frame(m_currentFrame);
    if (pixels == nullptr)
        return {};
    const int w = m_clip.Width(), h = m_clip.Height();
    QImage image(w, h, QImage::Format_ARGB32);
    const uint32_t key = ((m_transparent & 0xFF) << 16) | (m_transparent & 0xFF00) | ((m_transparent >> 16) & 0xFF);
    for (int y = 0; y < h; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        const uint32_t* row = pixels + static_cast<size_t>(y) * static_cast<size_t>(w);
        for (int x = 0; x < w; ++x)
            line[x] = row[x] == key ? 0u : (0xFF000000u | row[x]);
    }
    return image;
}

void CAVICtrl::paintEvent(QPaintEvent*)
{
    if (!IsOpen())
        return;
    QPainter p(this);
    if (m_flags & AVC_USEBGCOLOR)
        p.fillRect(rect(), palette().color(QPalette::Base));
    p.setRenderHint(QPainter::SmoothPixmapTransform, m_drawSize != QSize(m_clip.Width(), m_clip.Height()));
    p.drawImage(QRect(m_drawOffset, m_drawSize), CurrentFrameImage());
    m_backgroundDirty = false;
}

void CAVICtrl::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    m_backgroundDirty = true;
}

void CAVICtrl::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_backgroundDirty = true;
}
