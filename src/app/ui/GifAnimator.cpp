#include "app/ui/GifAnimator.h"

#include <QPainter>

namespace ostrel {

GifAnimator::GifAnimator(const QString& fileName, QWidget* parent) : QWidget(parent), m_movie(fileName)
{
    // The frames are few and small: decoding them once beats decoding each on every loop.
    m_movie.setCacheMode(QMovie::CacheAll);
    connect(&m_movie, &QMovie::frameChanged, this, [this] { update(); });
    // A picture whose file asks for a limited number of loops still loops here.
    connect(&m_movie, &QMovie::finished, &m_movie, &QMovie::start);
    m_movie.start();
}

void GifAnimator::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_movie.currentPixmap());
}

void GifAnimator::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_movie.state() == QMovie::Paused)
        m_movie.setPaused(false);
}

void GifAnimator::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (m_movie.state() == QMovie::Running)
        m_movie.setPaused(true);
}

} // namespace ostrel
