// How a sample page and the busy popup look: the title band and the task
// panel in their blues, the popup's animation drawn. With
// TOLVANE_SCREENSHOT_DIR set (scripts/screenshots) the pictures are saved
// there as PNG files.
#include <QPixmap>
#include <QtTest>

#include "AVICtrl.h"
#include "Delays.h"
#include "Dialog.h"
#include "ListCtrl.h"
#include "PageView.h"
#include "PopDlg.h"
#include "Skin.h"
#include "TaskPanel.h"

using namespace platform::gui;

namespace {

void Keep(const QImage& image, const char* name)
{
    QByteArray dir = qgetenv("TOLVANE_SCREENSHOT_DIR");
    if (!dir.isEmpty())
        QVERIFY(image.save(QString::fromUtf8(dir) + "/" + name, "PNG"));
}

class SamplePage : public CPageView {
public:
    SamplePage()
    {
        m_largeIconId = 253;
        m_smallIconId = 263;
        m_taskPanelIconId = 271;
    }

protected:
    void OnInitialUpdate() override
    {
        CPageView::OnInitialUpdate();
        TaskPanel* panel = GetTaskPanel();
        TaskPanelGroup* manage = panel->AddGroup(708, 0);
        manage->AddLinkItem(709);
        manage->AddLinkItem(710);
        manage->AddLinkItem(711);
        manage->AddLinkItem(714);
        TaskPanelGroup* detail = panel->AddGroup(105, 1);
        detail->AddTextItem("Folder: music\nLocation: Disk1\nSupport Type: Samba FTP");
        SetTitle("List Folder");
        ListCtrl* list = GetListCtrl();
        list->InsertColumn(0, " Folder", Qt::AlignLeft, 150);
        const char* names[] = {"music", "photo", "public <Z:>", "backup", "nfs_share", "USB1"};
        const int images[] = {0, 1, 2, 3, 4, 5};
        for (int i = 0; i < 6; ++i)
            list->InsertItem(i, names[i], images[i]);
    }
};

} // namespace

class TestScreens : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { LoadSkin(SkinPath()); }

    void samplePage()
    {
        QWidget host;
        host.resize(800, 480);
        SamplePage page;
        QVERIFY(page.CreatePage(QRect(4, 4, 792, 472), &host));
        page.show();
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        QCoreApplication::processEvents();
        QImage shot = host.grab().toImage();
        Keep(shot, "page.png");

        // The title band is the page's blue behind white text.
        QImage pageShot = page.grab().toImage();
        QRect band(page.GetListCtrl()->geometry().left(), 0, page.GetListCtrl()->width(),
                   page.GetListCtrl()->geometry().top());
        QCOMPARE(QColor(pageShot.pixel(band.left() + band.width() - 20, band.center().y())),
                 CPageView::TitleBandColour());
        // The task panel is blue between its groups.
        TaskPanel* panel = page.GetTaskPanel();
        QImage panelShot = panel->grab().toImage();
        QCOMPARE(QColor(panelShot.pixel(4, panel->height() - 6)), TaskPanel::BackgroundColour());
        QVERIFY(!panel->ItemRect(709).isEmpty());
    }

    void busyPopup()
    {
        CPopDlg popup;
        popup.SetMessage("Loading.. Please wait..");
        QImage shot;
        Dialog::SetModalHook([&](Dialog& d) {
            QVERIFY(QTest::qWaitForWindowExposed(&d));
            QVERIFY(QTest::qWaitFor([&] { return popup.GetAnimation()->GetCurrentFrame() >= 3; }, 10000));
            shot = d.grab().toImage();
            popup.Close(1);
        });
        QCOMPARE(popup.DoModal(), 1);
        Dialog::SetModalHook({});
        QVERIFY(!shot.isNull());
        Keep(shot, "busy-popup.png");
        // White popup with a dark border; the animation's dots are drawn and
        // its green never shows.
        QCOMPARE(QColor(shot.pixel(shot.width() - 5, 5)), QColor(Qt::white));
        bool blue = false, green = false;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < 80 && x < shot.width(); ++x) {
                QColor c(shot.pixel(x, y));
                blue |= c.blue() > 150 && c.red() < 120;
                green |= c == QColor(0, 255, 0);
            }
        QVERIFY(blue);
        QVERIFY(!green);
    }
};

QTEST_MAIN(TestScreens)
#include "test_screens.moc"
