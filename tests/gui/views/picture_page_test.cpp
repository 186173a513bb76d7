// The picture page: which diagram is on show, and the texts of its readings and ratings.
#include <QtTest>

#include "gui/views/picture_page.h"
#include "suites.h"

namespace kelvora::gui::test {

namespace {

using Kind = AnimatedPicture::Kind;

// Counts the events that would mean a picture was shown, hidden or redrawn.
class EventCounter : public QObject {
  public:
    int count = 0;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::Show:
            case QEvent::Hide:
            case QEvent::Paint:
            case QEvent::UpdateRequest:
            case QEvent::UpdateLater:
                ++count;
                break;
            default:
                break;
        }
        return QObject::eventFilter(watched, event);
    }
};

int VisiblePictures(const PicturePage& page) {
    int n = 0;
    for (int state = 1; state <= 6; ++state) n += page.Picture(state).isVisible() ? 1 : 0;
    return n;
}

class PicturePageTest : public QObject {
    Q_OBJECT

  private slots:
    void startsOnStandbyNormal() {
        PicturePage page;
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QCOMPARE(page.Mode(), 4);
        QCOMPARE(page.ShownPicture(), &page.Picture(4));
        QCOMPARE(page.Picture(4).kind(), Kind::OffNormal);
        QCOMPARE(VisiblePictures(page), 1);
    }

    void eachStateItsPicture() {
        PicturePage page;
        page.show();
        const Kind kinds[6] = {Kind::OnNormal,  Kind::OnFail,  Kind::OnBypass,
                               Kind::OffNormal, Kind::OffFail, Kind::OffBoost};
        for (int state = 1; state <= 6; ++state) {
            page.SetMode(state);
            QCOMPARE(page.Mode(), state);
            QVERIFY(page.ShownPicture());
            QCOMPARE(page.ShownPicture()->kind(), kinds[state - 1]);
            QVERIFY(page.ShownPicture()->isVisible());
            QCOMPARE(VisiblePictures(page), 1);
        }
        for (int state : {0, 7, -1}) {
            page.SetMode(state);
            QCOMPARE(page.Mode(), state);
            QCOMPARE(page.ShownPicture(), nullptr);
            QCOMPARE(VisiblePictures(page), 0);
        }
    }

    void sameStateTouchesNothing() {
        PicturePage page;
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        page.SetMode(3);
        QCoreApplication::processEvents();
        EventCounter counter;
        for (int state = 1; state <= 6; ++state) {
            const_cast<AnimatedPicture&>(page.Picture(state)).installEventFilter(&counter);
        }
        const AnimatedPicture* shown = page.ShownPicture();
        page.SetMode(3);
        QCoreApplication::processEvents();
        QCOMPARE(counter.count, 0);
        QCOMPARE(page.ShownPicture(), shown);
        // The counter does see a real change, so the zero above means something.
        page.SetMode(5);
        QCoreApplication::processEvents();
        QVERIFY(counter.count > 0);
    }

    void readings() {
        PicturePage page;
        QCOMPARE(page.TypeText(), QStringLiteral("Unknown"));
        page.UpdateValues(2300, 2295, 85, 123, 0);
        QCOMPARE(page.InputVoltageText(), QStringLiteral("230.0 Vac"));
        QCOMPARE(page.OutputVoltageText(), QStringLiteral("229.5 Vac"));
        QCOMPARE(page.CapacityText(), QStringLiteral("85 %"));
        QCOMPARE(page.LoadText(), QStringLiteral("12.3 %"));
        QCOMPARE(page.TypeText(), QStringLiteral("On-line"));
        page.UpdateValues(2300, 2295, 85, 123, 1);
        QCOMPARE(page.TypeText(), QStringLiteral("Standby"));
        page.UpdateValues(2300, 2295, 85, 123, 2);
        QCOMPARE(page.TypeText(), QStringLiteral("Unknown"));
        page.UpdateValues(2300, 2295, 85, 123, 9);
        QCOMPARE(page.TypeText(), QStringLiteral("Unknown"));
    }

    void ratings() {
        PicturePage page;
        page.UpdateRatings(2200, 5, 2400, 600);
        QCOMPARE(page.RatedVoltageText(), QStringLiteral("220.0"));
        QCOMPARE(page.RatedCurrentText(), QStringLiteral("0.50"));
        QCOMPARE(page.RatedBatteryVoltageText(), QStringLiteral("24.0"));
        QCOMPARE(page.RatedFrequencyText(), QStringLiteral("60.0"));
        page.UpdateRatings(1100, 123, 1200, 500);
        QCOMPARE(page.RatedCurrentText(), QStringLiteral("12.30"));
        QCOMPARE(page.RatedBatteryVoltageText(), QStringLiteral("12.0"));
    }

    void startAndStopAll() {
        PicturePage page;
        page.StartAll();
        for (int state = 1; state <= 6; ++state) QVERIFY(page.Picture(state).Running());
        page.StopAll();
        for (int state = 1; state <= 6; ++state) QVERIFY(!page.Picture(state).Running());
    }
};

}  // namespace

int RunPicturePageTests(int argc, char** argv) {
    PicturePageTest t;
    return QTest::qExec(&t, argc, argv);
}

}  // namespace kelvora::gui::test

#include "picture_page_test.moc"
