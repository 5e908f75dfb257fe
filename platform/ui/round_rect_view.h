// A view and a label with fully rounded ends (a pill), each 10 px wider than its content asks for, so
// the rounding never cuts into the content. The mini window's duration badge builds on the view.
#pragma once

#include <QColor>
#include <QLabel>
#include <QWidget>

#include <optional>

namespace ui {

class RoundRectView : public QWidget {
    Q_OBJECT
public:
    explicit RoundRectView(QWidget* parent = nullptr);

    // Rounds the ends for the present height: the corner radius becomes half of it. Called once the
    // view has its size; a later change of height keeps the radius.
    virtual void roundEnds();
    qreal cornerRadius() const { return cornerRadius_; }

    // What the view paints: a fill, an outline of a width (0: none).
    std::optional<QColor> fillColor() const { return fillColor_; }
    void setFillColor(std::optional<QColor> color);
    std::optional<QColor> borderColor() const { return borderColor_; }
    qreal borderWidth() const { return borderWidth_; }
    void setBorder(std::optional<QColor> color, qreal width);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qreal cornerRadius_ = 0;
    std::optional<QColor> fillColor_;
    std::optional<QColor> borderColor_;
    qreal borderWidth_ = 0;
};

class RoundRectLabel : public QLabel {
    Q_OBJECT
public:
    explicit RoundRectLabel(const QString& text = {}, QWidget* parent = nullptr);

    void roundEnds();
    qreal cornerRadius() const { return cornerRadius_; }
    // A rounded fill under the text; none by default.
    std::optional<QColor> fillColor() const { return fillColor_; }
    void setFillColor(std::optional<QColor> color);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qreal cornerRadius_ = 0;
    std::optional<QColor> fillColor_;
};

// What both add to their content's width.
inline constexpr int roundRectExtraWidth = 10;

} // namespace ui
