#include "image_box.h"

#include <QPaintEvent>
#include <QPainter>

ImageBox::ImageBox(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
}

void ImageBox::setPicture(QImage picture)
{
    m_picture = std::move(picture);
    if (size() != m_picture.size())
        resize(m_picture.size());
    repaint();
}

void ImageBox::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    // On a scaled screen, whole blocks of device pixels per picture pixel.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(event->rect(), m_picture, event->rect());
}
