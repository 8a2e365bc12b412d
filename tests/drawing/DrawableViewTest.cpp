#include "Camera.h"
#include "DrawableView.h"
#include "Line.h"
#include "Mimic.h"
#include "PolyLine.h"
#include "PolyLineCreationTool.h"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QtTest>

// Drives a real 720 x 576 view with mouse events, as the settings dialog
// shows it.
class DrawableViewTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void createsAPolygonClosedOnVertexZero();
    void refusesASelfCrossingClickWithARedRubberBand();
    void dragIntoACrossingReturnsTheVertex();
    void draggedShapeOutlivesAListenerThatDropsIt();
    void pressOnAVertexDragsInsteadOfCreating();
    void pictureRectangleFollowsThePictureAspect();
    void unplaceableMimicIsSkippedOthersDrawn();

private:
    void move(const QPoint& pos, Qt::MouseButtons buttons = Qt::NoButton);
    void click(const QPoint& pos, Qt::MouseButton button = Qt::LeftButton);
    std::shared_ptr<PolyLine> addSquare();
    QColor pixelAt(const QPoint& pos);

    DrawableView* view_ = nullptr;
    PolyLineCreationTool tool_{Qt::blue};
    std::vector<std::shared_ptr<Drawable>> created_;
};

namespace {

QPointF relative(int x, int y)
{
    return QPointF(x / 720.0, y / 576.0);
}

} // namespace

void DrawableViewTest::init()
{
    view_ = new DrawableView(nullptr);
    view_->resize(720, 576);
    view_->show();
    QVERIFY(QTest::qWaitForWindowExposed(view_));
    created_.clear();
    // Listens like the zones page: every created shape joins the list.
    connect(view_, &DrawableView::shapeCreated, this, [this](std::shared_ptr<Drawable> shape) {
        created_.push_back(shape);
        view_->addDrawable(shape);
    });
}

void DrawableViewTest::cleanup()
{
    delete view_;
    view_ = nullptr;
}

// QTest::mouseMove only moves the cursor for widgets; send the event itself.
void DrawableViewTest::move(const QPoint& pos, Qt::MouseButtons buttons)
{
    QMouseEvent event(QEvent::MouseMove, pos, Qt::NoButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(view_, &event);
}

void DrawableViewTest::click(const QPoint& pos, Qt::MouseButton button)
{
    QTest::mousePress(view_, button, Qt::NoModifier, pos);
    QTest::mouseRelease(view_, button, Qt::NoModifier, pos);
}

std::shared_ptr<PolyLine> DrawableViewTest::addSquare()
{
    auto square = std::make_shared<PolyLine>();
    for (const QPoint& p : {QPoint(100, 100), QPoint(300, 100), QPoint(300, 300), QPoint(100, 300)}) {
        square->add(relative(p.x(), p.y()));
    }
    view_->addDrawable(square);
    view_->addDrawable(square); // already there: no second entry
    return square;
}

QColor DrawableViewTest::pixelAt(const QPoint& pos)
{
    return view_->grab().toImage().pixelColor(pos);
}

void DrawableViewTest::createsAPolygonClosedOnVertexZero()
{
    view_->setCreationTool(&tool_);
    QSignalSpy created(view_, &DrawableView::shapeCreated);
    click(QPoint(100, 100), Qt::RightButton); // any button acts alike
    for (const QPoint& p : {QPoint(400, 100), QPoint(400, 400)}) {
        move(p);
        click(p, Qt::MiddleButton);
    }
    QCOMPARE(created.count(), 0);
    move(QPoint(102, 103)); // squared distance 13 from vertex 0
    click(QPoint(102, 103));
    QCOMPARE(created.count(), 1);
    auto* polygon = dynamic_cast<PolyLine*>(created_.at(0).get());
    QVERIFY(polygon != nullptr);
    QVERIFY(!polygon->isCreationMode());
    const std::vector<QPointF> expected{relative(100, 100), relative(400, 100), relative(400, 400)};
    QCOMPARE(polygon->getVertecles(), expected);
    QCOMPARE(pixelAt(QPoint(250, 250)), QColor(Qt::blue)); // closing edge drawn
}

void DrawableViewTest::refusesASelfCrossingClickWithARedRubberBand()
{
    view_->setCreationTool(&tool_);
    click(QPoint(100, 100));
    for (const QPoint& p : {QPoint(400, 100), QPoint(400, 400), QPoint(250, 400)}) {
        move(p);
        click(p);
    }
    // From (250, 400) up to (250, 50) crosses the first edge.
    move(QPoint(250, 50));
    QCOMPARE(pixelAt(QPoint(250, 250)), QColor(Qt::red));
    click(QPoint(250, 50));
    move(QPoint(200, 300));
    QCOMPARE(pixelAt(QPoint(225, 350)), QColor(Qt::blue));
    click(QPoint(200, 300));
    move(QPoint(100, 100));
    click(QPoint(100, 100));
    QCOMPARE(created_.size(), size_t(1));
    auto* polygon = static_cast<PolyLine*>(created_[0].get());
    QCOMPARE(polygon->getVertecles().size(), size_t(5));
    QCOMPARE(polygon->getVertecles()[4], relative(200, 300));
}

void DrawableViewTest::dragIntoACrossingReturnsTheVertex()
{
    const std::shared_ptr<PolyLine> square = addSquare();
    QSignalSpy edited(view_, &DrawableView::shapeEdited);
    // Listeners already see the vertex back in place (the zones page copies it).
    std::vector<QPointF> seenByListener;
    QObject context; // ends the connection with this test
    connect(view_, &DrawableView::shapeEdited, &context,
            [&](Drawable*, Movable*) { seenByListener.push_back(square->getVertecles()[2]); });
    QTest::mousePress(view_, Qt::RightButton, Qt::NoModifier, QPoint(302, 302));
    move(QPoint(50, 200), Qt::RightButton); // across the left edge
    QCOMPARE(square->getVertecles()[2], relative(50, 200));
    QTest::mouseRelease(view_, Qt::RightButton, Qt::NoModifier, QPoint(50, 200));
    QCOMPARE(edited.count(), 1);
    QCOMPARE(edited.at(0).at(0).value<Drawable*>(), static_cast<Drawable*>(square.get()));
    QCOMPARE(square->getVertecles()[2], relative(300, 300));
    QCOMPARE(seenByListener.at(0), relative(300, 300));

    // Beyond the picture the vertex is pinned to the edge.
    QTest::mousePress(view_, Qt::LeftButton, Qt::NoModifier, QPoint(300, 300));
    move(QPoint(900, 700), Qt::LeftButton);
    QCOMPARE(square->getVertecles()[2], QPointF(1, 1));
    QTest::mouseRelease(view_, Qt::LeftButton, Qt::NoModifier, QPoint(900, 700));
    QCOMPARE(square->getVertecles()[2], QPointF(1, 1));
}

void DrawableViewTest::draggedShapeOutlivesAListenerThatDropsIt()
{
    std::weak_ptr<PolyLine> watch = addSquare(); // only the view holds it
    connect(view_, &DrawableView::shapeEdited, this, [this](Drawable*, Movable*) { view_->clear(); });
    QTest::mousePress(view_, Qt::LeftButton, Qt::NoModifier, QPoint(300, 300));
    move(QPoint(50, 200), Qt::LeftButton);
    // The handle's end-of-drag check reads the polygon after the listener ran.
    QTest::mouseRelease(view_, Qt::LeftButton, Qt::NoModifier, QPoint(50, 200));
    QVERIFY(watch.expired());
}

void DrawableViewTest::pressOnAVertexDragsInsteadOfCreating()
{
    addSquare();
    view_->setCreationTool(&tool_);
    QSignalSpy edited(view_, &DrawableView::shapeEdited);
    click(QPoint(100, 100));
    QCOMPARE(edited.count(), 1);
    move(QPoint(500, 500));
    click(QPoint(500, 500)); // elsewhere: a new polygon starts here
    move(QPoint(600, 500));
    QCOMPARE(pixelAt(QPoint(550, 500)), QColor(Qt::blue));
    QVERIFY(created_.empty());
}

void DrawableViewTest::pictureRectangleFollowsThePictureAspect()
{
    // Shown before any picture: the rectangle is the whole widget.
    view_->setCreationTool(&tool_);
    QSignalSpy created(view_, &DrawableView::shapeCreated);
    QImage picture(640, 480, QImage::Format_RGB32);
    picture.fill(Qt::green);
    view_->setImage(picture);
    view_->update();
    // Still the old rectangle until the next resize: stretched to the widget.
    QCOMPARE(pixelAt(QPoint(360, 2)), QColor(Qt::green));

    view_->resize(720, 577);
    view_->resize(720, 576);
    // 4:3 in 720 x 576: (0, 18, 720, 540).
    QVERIFY(pixelAt(QPoint(360, 17)) != QColor(Qt::green));
    QCOMPARE(pixelAt(QPoint(360, 18)), QColor(Qt::green));
    QCOMPARE(pixelAt(QPoint(360, 557)), QColor(Qt::green));
    QVERIFY(pixelAt(QPoint(360, 558)) != QColor(Qt::green));
    // Relative coordinates now refer to that rectangle.
    view_->setCreationTool(nullptr);
    auto line = std::make_shared<Line>(QPointF(0, 0), true, true);
    line->clickInCreationMode(QPointF(1, 1), QSize(720, 540));
    view_->addDrawable(line);
    QTest::mousePress(view_, Qt::LeftButton, Qt::NoModifier, QPoint(1, 19));
    move(QPoint(360, 10), Qt::LeftButton); // above the picture: pinned to its top
    QTest::mouseRelease(view_, Qt::LeftButton, Qt::NoModifier, QPoint(360, 10));
    QCOMPARE(line->getFirstPoint(), QPointF(0.5, 0));
    QCOMPARE(created.count(), 0);
}

void DrawableViewTest::unplaceableMimicIsSkippedOthersDrawn()
{
    const Camera level(36, 0, 3, 1.25); // its horizon runs through the centre
    view_->addDrawable(std::make_shared<Mimic>(level, QPointF(0.5, 0.5), Qt::red));
    auto line = std::make_shared<Line>(QPointF(0.1, 0.8), false, false);
    line->setColor(Qt::blue);
    line->clickInCreationMode(QPointF(0.9, 0.8), QSize(720, 576));
    view_->addDrawable(line);
    QCOMPARE(pixelAt(QPoint(360, 460)), QColor(Qt::blue));
    QVERIFY(pixelAt(QPoint(360, 288)) != QColor(Qt::red));
}

QTEST_MAIN(DrawableViewTest)
#include "DrawableViewTest.moc"
