// A flat button that paints only a rounded background, coloured by its state (normal, under the
// pointer, pressed, disabled), and its image, tinted per state. Each state's tinted image is made once
// and kept until the image changes. The mini window's row buttons use it.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QPixmap>

#include <optional>

namespace ui {

class HoverButton : public QAbstractButton {
    Q_OBJECT
public:
    // The background the button stands on; `dark` is a selected row's, where the image is drawn white.
    enum class BackgroundStyle { normal, dark };

    explicit HoverButton(QWidget* parent = nullptr);

    // Tints of the image per state; an empty tint leaves that state's image as it is.
    std::optional<QColor> imageColor() const { return imageColor_; }
    void setImageColor(std::optional<QColor> color);
    std::optional<QColor> hoverImageColor() const { return hoverImageColor_; }
    void setHoverImageColor(std::optional<QColor> color);
    std::optional<QColor> pressedImageColor() const { return pressedImageColor_; }
    void setPressedImageColor(std::optional<QColor> color);

    // Backgrounds per state; an empty colour draws no background in that state. Disabled, the button
    // draws the lighter variant of `backgroundColor`.
    std::optional<QColor> backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(std::optional<QColor> color);
    std::optional<QColor> hoverColor() const { return hoverColor_; }
    void setHoverColor(std::optional<QColor> color);
    std::optional<QColor> pressedColor() const { return pressedColor_; }
    void setPressedColor(std::optional<QColor> color);

    bool mouseDown() const { return mouseDown_; }
    void setMouseDown(bool down);
    bool mouseHovering() const { return mouseHovering_; }
    void setMouseHovering(bool hovering);

    BackgroundStyle backgroundStyle() const { return backgroundStyle_; }
    void setBackgroundStyle(BackgroundStyle style);

    // The button's image. Setting it empties the four state images, so each is made again from it.
    std::optional<QPixmap> image() const { return image_; }
    void setImage(std::optional<QPixmap> image);

    // The state images. An empty one is made by tinting the image on the next paint in that state
    // and kept here; one set from outside is drawn as it is.
    std::optional<QPixmap> normalImage() const { return normalImage_; }
    void setNormalImage(std::optional<QPixmap> image) { normalImage_ = std::move(image); }
    std::optional<QPixmap> hoverImage() const { return hoverImage_; }
    void setHoverImage(std::optional<QPixmap> image) { hoverImage_ = std::move(image); }
    std::optional<QPixmap> pressedImage() const { return pressedImage_; }
    void setPressedImage(std::optional<QPixmap> image) { pressedImage_ = std::move(image); }
    std::optional<QPixmap> highlightedImage() const { return highlightedImage_; }
    void setHighlightedImage(std::optional<QPixmap> image) { highlightedImage_ = std::move(image); }

    // Where the image goes in a button of `bounds`: each side limited to the bounds (squeezed, not
    // scaled), centred, with halves rounded away from zero.
    static QRectF imageRect(QSizeF image, QSizeF bounds);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    std::optional<QColor> currentBackground() const;
    // The image for the current state, tinting and keeping it when its field is empty.
    std::optional<QPixmap> currentImage();
    // The pointer's stay ends: the window stopped being active or the button went out of sight.
    void stopTracking();

    std::optional<QColor> imageColor_;
    std::optional<QColor> hoverImageColor_;
    std::optional<QColor> pressedImageColor_;
    std::optional<QColor> backgroundColor_;
    std::optional<QColor> hoverColor_;
    std::optional<QColor> pressedColor_;
    bool mouseDown_ = false;
    bool mouseHovering_ = false;
    std::optional<QPixmap> normalImage_;
    std::optional<QPixmap> hoverImage_;
    std::optional<QPixmap> pressedImage_;
    std::optional<QPixmap> highlightedImage_;
    std::optional<QPixmap> image_;
    BackgroundStyle backgroundStyle_ = BackgroundStyle::normal;
};

} // namespace ui
