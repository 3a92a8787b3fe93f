// The busy popup and its animation control.
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <thread>

#include "GuiTestSupport.h"
#include "AVICtrl.h"
#include "TestClock.h"
#include "Dialog.h"
#include "PopDlg.h"
#include "TestSupport.h"

using namespace platform::gui;
namespace fs = std::filesystem;

namespace {

std::vector<fs::path> AviTempFiles(const fs::path& folder)
{
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().rfind("AVC", 0) == 0)
            files.push_back(entry.path());
    return files;
}

void WriteClip(const fs::path& path, const AviSpec& spec) { testsupport::WriteFile(path, AviWriteUncompressed(spec)); }

AviSpec SmallClip(int frames, int bits = 8)
{
    AviSpec spec;
    spec.width = 8;
    spec.height = 6;
    spec.bitCount = bits;
    spec.palette = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
    spec.msPerFrame = 40;
    for (int f = 0; f < frames; ++f) {
        std::vector<uint32_t> pixels(48, bits == 8 ? 1u : 0x00FF00u);
        pixels[static_cast<size_t>(f % 48)] = bits == 8 ? 2u : 0x0000FFu;
        spec.frames.push_back(pixels);
    }
    return spec;
}

} // namespace

class TestPopDlg : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::TempDir> m_tmp;
    std::unique_ptr<testsupport::InstantPauses> m_pauses;

private slots:
    void init()
    {
        m_tmp = std::make_unique<testsupport::TempDir>();
        setenv("TMPDIR", m_tmp->path().c_str(), 1);
        m_pauses = std::make_unique<testsupport::InstantPauses>();
    }
    void cleanup()
    {
        Dialog::SetModalHook({});
        m_pauses.reset();
        unsetenv("TMPDIR");
        m_tmp.reset();
    }

    void closeBeforeTheWindowExists()
    {
        CPopDlg popup;
        bool shown = false;
        Dialog::SetModalHook([&](Dialog&) { shown = true; });
        std::thread worker([&] {
            popup.SetMessage("Deleting...Please wait..");
            popup.Close(2);
        });
        worker.join();
        QCOMPARE(popup.DoModal(), 2);
        QVERIFY(!shown);
        QCOMPARE(popup.GetShownText(), std::string("Deleting...Please wait.."));
        QVERIFY(AviTempFiles(m_tmp->path()).empty());
    }

    void closeFromAWorkerWhileShown()
    {
        CPopDlg popup;
        std::thread worker;
        bool playing = false;
        size_t tempFiles = 0;
        std::string textSeen;
        Dialog::SetModalHook([&](Dialog&) {
            playing = popup.GetAnimation()->IsPlaying();
            tempFiles = AviTempFiles(m_tmp->path()).size();
            worker = std::thread([&] {
                popup.SetMessage("first");
                popup.SetMessage("Loading.. Please wait..");
                // Closed only after the texts were shown.
                popup.PostMessage(WM_USER + 70);
            });
        });
        popup.SetMessageHandler(WM_USER + 70, [&](const Message&) {
            textSeen = popup.GetShownText();
            std::thread([&] { popup.Close(-7); }).join();
            return 0;
        });
        int code = popup.DoModal();
        worker.join();
        QCOMPARE(code, -7);
        QVERIFY(playing);
        QCOMPARE(tempFiles, size_t(1));
        QCOMPARE(textSeen, std::string("Loading.. Please wait.."));
        // The animation stopped and its temporary file went with the run.
        QVERIFY(AviTempFiles(m_tmp->path()).empty());
        QVERIFY(!popup.isVisible());
    }

    void escapeAndEnterDoNotClose()
    {
        CPopDlg popup;
        bool stillOpen = false;
        Dialog::SetModalHook([&](Dialog& d) {
            QTest::keyClick(&d, Qt::Key_Escape);
            QTest::keyClick(&d, Qt::Key_Return);
            QTest::keyClick(&d, Qt::Key_Enter);
            d.close();
            QCoreApplication::processEvents();
            stillOpen = d.isVisible();
            popup.Close(12345);
        });
        QCOMPARE(popup.DoModal(), 12345);
        QVERIFY(stillOpen);
    }

    void aStaleCloseDoesNotEndTheNextRun()
    {
        CPopDlg popup;
        popup.Close(1);
        QCOMPARE(popup.DoModal(), 1); // its WM_POP_CLOSE is still queued
        bool survivedStale = false;
        Dialog::SetModalHook([&](Dialog& d) {
            QCoreApplication::processEvents();
            QCoreApplication::processEvents();
            survivedStale = d.isVisible();
            popup.Close(2);
        });
        QCOMPARE(popup.DoModal(), 2);
        QVERIFY(survivedStale);
    }

    void animationFlags()
    {
        const fs::path clip = m_tmp->path() / "clip.avi";
        WriteClip(clip, SmallClip(4));
        QWidget parent;
        parent.resize(200, 200);
        CAVICtrl avi(&parent);
        avi.setGeometry(10, 20, 40, 30);

        // 0x04: keeps its size, draws centred at natural size.
        QCOMPARE(avi.Open(clip.string(), AVC_CENTERAVI, RGB(0, 255, 0)), S_OK);
        QCOMPARE(avi.size(), QSize(40, 30));
        QCOMPARE(avi.GetDrawOffset(), QPoint(16, 12));
        QCOMPARE(avi.GetDrawSize(), QSize(8, 6));
        QCOMPARE(avi.GetFrameInterval(), 40);
        QVERIFY(!avi.IsPlaying());

        // 0x01 slower, 0x02 faster, 0x01 wins over 0x02.
        QCOMPARE(avi.Open(clip.string(), AVC_CENTERAVI | AVC_HALFSPEED, 0), S_OK);
        QCOMPARE(avi.GetFrameInterval(), 80);
        QCOMPARE(avi.Open(clip.string(), AVC_CENTERAVI | AVC_DOUBLESPEED, 0), S_OK);
        QCOMPARE(avi.GetFrameInterval(), 20);
        QCOMPARE(avi.Open(clip.string(), AVC_CENTERAVI | AVC_HALFSPEED | AVC_DOUBLESPEED, 0), S_OK);
        QCOMPARE(avi.GetFrameInterval(), 80);

        // 0x08: keeps its size and stretches the frame over it.
        QCOMPARE(avi.Open(clip.string(), AVC_STRETCHAVI, 0), S_OK);
        QCOMPARE(avi.GetDrawOffset(), QPoint(0, 0));
        QCOMPARE(avi.GetDrawSize(), QSize(40, 30));

        // Neither: the window takes the frame size where it is...
        QCOMPARE(avi.Open(clip.string(), 0, 0), S_OK);
        QCOMPARE(avi.geometry(), QRect(10, 20, 8, 6));
        // ...and with 0x10 it also moves to stay centred.
        avi.setGeometry(10, 20, 40, 30);
        QCOMPARE(avi.Open(clip.string(), AVC_CENTERRECT, 0), S_OK);
        QCOMPARE(avi.geometry(), QRect(26, 32, 8, 6));

        // 0x20 plays at once, looping.
        avi.setGeometry(10, 20, 40, 30);
        QCOMPARE(avi.Open(clip.string(), AVC_CENTERAVI | AVC_AUTOPLAY, 0), S_OK);
        QVERIFY(avi.IsPlaying());
        QVERIFY(avi.HasTimer(TIMER_AVI_FRAME));
        for (int i = 0; i < 9; ++i)
            avi.TimerProc();
        QCOMPARE(avi.GetCurrentFrame(), 1);
        QVERIFY(avi.IsPlaying());

        // Play once: stops on frame 0 after the last frame.
        QVERIFY(avi.Play(true));
        QCOMPARE(avi.GetCurrentFrame(), 0); // already playing: restarts
        for (int i = 0; i < 3; ++i)
            avi.TimerProc();
        QCOMPARE(avi.GetCurrentFrame(), 3);
        avi.TimerProc();
        QCOMPARE(avi.GetCurrentFrame(), 0);
        QVERIFY(!avi.IsPlaying());
        QVERIFY(!avi.HasTimer(TIMER_AVI_FRAME));

        // The real timer advances frames.
        QVERIFY(avi.Play(false));
        QVERIFY(WaitFor([&] { return avi.GetCurrentFrame() >= 2; }));
        avi.Stop(true);
        QCOMPARE(avi.GetCurrentFrame(), 0);
        QVERIFY(!avi.IsPlaying());

        // 0x80: the first pixel's palette colour is transparent (green here).
        QCOMPARE(avi.Open(clip.string(), AVC_CENTERAVI | AVC_FIRSTFRAMETRANSPARENT, RGB(1, 2, 3)), S_OK);
        QCOMPARE(avi.GetTransparentColour(), RGB(0, 255, 0));
        QImage frame = avi.CurrentFrameImage();
        QCOMPARE(qAlpha(frame.pixel(1, 0)), 0);       // green: see-through
        QCOMPARE(frame.pixel(0, 0), qRgb(0, 0, 255)); // the marker pixel
        // 0x40 wins over 0x80: the given colour stays.
        QCOMPARE(avi.Open(clip.string(), AVC_CENTERAVI | AVC_USEBGCOLOR | AVC_FIRSTFRAMETRANSPARENT, RGB(1, 2, 3)),
                 S_OK);
        QCOMPARE(avi.GetTransparentColour(), RGB(1, 2, 3));
        // 0x80 on a clip that is not 8-bit: green.
        const fs::path trueColour = m_tmp->path() / "true.avi";
        WriteClip(trueColour, SmallClip(2, 24));
        QCOMPARE(avi.Open(trueColour.string(), AVC_CENTERAVI | AVC_FIRSTFRAMETRANSPARENT, RGB(1, 2, 3)), S_OK);
        QCOMPARE(avi.GetTransparentColour(), RGB(0, 255, 0));

        // A broken clip leaves the control closed.
        testsupport::WriteFile(m_tmp->path() / "bad.avi", std::string("RIFF\x04\0\0\0AVI ", 12));
        QCOMPARE(avi.Open((m_tmp->path() / "bad.avi").string(), AVC_AUTOPLAY, 0), AVIERR_BADFORMAT);
        QVERIFY(!avi.IsOpen());
        QVERIFY(!avi.IsPlaying());
        QVERIFY(!avi.Play(false));
    }

    void resourceClipsUseDistinctTemporaryFiles()
    {
        QWidget parent;
        {
            CAVICtrl a(&parent), b(&parent);
            a.resize(66, 54);
            b.resize(66, 54);
            QCOMPARE(a.OpenFromResource(255, 0xA4, RGB(0, 255, 0)), S_OK);
            QCOMPARE(b.OpenFromResource(255, 0xA4, RGB(0, 255, 0)), S_OK);
            QVERIFY(a.GetTempFile() != b.GetTempFile());
            QCOMPARE(AviTempFiles(m_tmp->path()).size(), size_t(2));
            QCOMPARE(a.GetFrameCount(), 12);
            QCOMPARE(a.GetResourceId(), 255u);
            QCOMPARE(a.GetDrawOffset(), QPoint(9, 3));
            QVERIFY(a.IsPlaying());
            QCOMPARE(a.GetTransparentColour(), RGB(0, 255, 0));
            QString name = QString::fromStdString(fs::path(a.GetTempFile()).filename().string());
            QVERIFY2(QRegularExpression("^AVC[0-9A-F]+\\.AVI$").match(name).hasMatch(), qPrintable(name));

            // Opening again while playing: the old file goes, a new one comes.
            std::string old = a.GetTempFile();
            QCOMPARE(a.OpenFromResource(255, 0xA4, RGB(0, 255, 0)), S_OK);
            QVERIFY(!fs::exists(old));
            QVERIFY(fs::exists(a.GetTempFile()));
            QVERIFY(a.IsPlaying());
            QCOMPARE(AviTempFiles(m_tmp->path()).size(), size_t(2));

            // Explicit close deletes the file.
            a.Close();
            QVERIFY(a.GetTempFile().empty());
            QCOMPARE(AviTempFiles(m_tmp->path()).size(), size_t(1));
            QVERIFY(fs::exists(b.GetTempFile()));
        }
        // Destruction deletes the rest.
        QVERIFY(AviTempFiles(m_tmp->path()).empty());

        CAVICtrl c(&parent);
        QCOMPARE(c.OpenFromResource(999, 0xA4, 0), E_FAIL);
        QVERIFY(c.GetTempFile().empty());
        QVERIFY(AviTempFiles(m_tmp->path()).empty());
    }
};

QTEST_MAIN(TestPopDlg)
#include "test_popdlg.moc"
