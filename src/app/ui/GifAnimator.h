#pragma once

#include <QMovie>
#include <QWidget>

namespace ostrel {

// An animated GIF that runs from creation and loops without end, drawn with its transparency.
// Unlike a QLabel showing a movie, it draws the same picture when disabled, so it can be disabled
// to let every mouse event pass to the window. It rests while hidden, so a window in the tray
// costs no CPU for it.
class GifAnimator : public QWidget
{
    Q_OBJECT

public:
    explicit GifAnimator(const QString& fileName, QWidget* parent = nullptr);

    QMovie& movie() { return m_movie; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QMovie m_movie;
};

} // namespace ostrel
