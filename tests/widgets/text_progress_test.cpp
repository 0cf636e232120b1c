// The text progress bar as it paints, checked pixel by pixel, and the
// progress window's keys.
#include "platform/strings.h"
#include "progress/send_dlg.h"
#include "progress/text_progress_ctrl.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPushButton>
#include <QTest>

namespace {

const QRgb kNavy = qRgb(0, 0, 128);
const QRgb kWhite = qRgb(255, 255, 255);

// Counts the paints of the widget it watches.
class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

struct Bar
{
    Bar()
    {
        bar.SetBorder(true);
        bar.resize(302, 26); // a client area of 300 x 24 inside the border
        bar.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&bar));
    }
    // The client area as painted.
    QImage Paint(int upper, int pos)
    {
        bar.setRange(0, upper);
        bar.SetPos(pos);
        return bar.grab().toImage().convertToFormat(QImage::Format_RGB32).copy(1, 1, 300, 24);
    }
    CTextProgressCtrl bar;
};

// Pixels of a colour other than `background` in columns [from, to) of the
// text band: the glyphs drawn over that part of the bar.
int Glyphs(const QImage& image, int from, int to, QRgb background)
{
    int n = 0;
    for (int y = 4; y < image.height() - 4; ++y)
        for (int x = std::max(from, 0); x < std::min(to, image.width()); ++x)
            n += image.pixel(x, y) != background;
    return n;
}

TEST(TextProgress, PaintsTheSplitAndTheTextInTheOppositeColour)
{
    Bar b;
    struct Case
    {
        int upper, pos;
        int split; // first white column of the client area
    } cases[] = {
        {0, 0, 0}, {1000, 0, 0}, {1000, 512, 153}, {1048576, 1, 0}, {1000, 1000, 300}, {1000, 1500, 300},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pos << " of " << c.upper);
        const QImage image = b.Paint(c.upper, c.pos);
        // The top row holds no text: navy up to the split, white after it.
        for (int x = 0; x < 300; ++x)
            ASSERT_EQ(x < c.split ? kNavy : kWhite, image.pixel(x, 0)) << x;
        // White glyphs on the navy part, navy glyphs on the white part.
        const int middle = 150;
        if (c.split > middle) {
            EXPECT_GT(Glyphs(image, 100, c.split, kNavy), 0);
        }
        if (c.split < middle) {
            EXPECT_GT(Glyphs(image, c.split, 200, kWhite), 0);
        }
        if (c.split > 100 && c.split < 200) {
            // The text straddles the split: each side carries part of it.
            EXPECT_GT(Glyphs(image, 100, c.split, kNavy), 0);
            EXPECT_GT(Glyphs(image, c.split, 200, kWhite), 0);
        }
    }
}

TEST(TextProgress, SetPosPaintsBeforeItReturns)
{
    Bar b;
    b.bar.setRange(0, 1000);
    PaintCounter counter;
    b.bar.installEventFilter(&counter);
    b.bar.SetPos(10);
    EXPECT_EQ(1, counter.paints);
    // The underlying bar never holds the position, so nothing clamps it.
    b.bar.SetPos(5000);
    EXPECT_EQ(5000, b.bar.GetPos());
    EXPECT_EQ("500.0%", b.bar.text());
}

TEST(SendDlg, KeysAndTheCloseBoxLeaveTheWindowAlone)
{
    CSendDlg dlg(nullptr);
    ASSERT_TRUE(dlg.Create());
    dlg.show();
    dlg.StartSend(1000);
    dlg.Item<QPushButton>(IDC_BUTTON_CANCEL_SEND)->setFocus();
    QTest::keyClick(&dlg, Qt::Key_Escape);
    dlg.close();
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(LoadStr(139), dlg.GetDlgItemText(IDC_BUTTON_PAUSE));

    // Codes the window does not know change nothing.
    EXPECT_EQ(0, dlg.OnSendNotify(99, 500));
    EXPECT_EQ("0 / 1000", dlg.GetDlgItemText(IDC_STATIC_SEND_COUNT));
    EXPECT_EQ("0%", dlg.m_progress->text());
}

} // namespace
