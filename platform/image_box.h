#pragma once

#include <QImage>
#include <QWidget>

// An image control. It takes the size of its picture, top-left corner fixed,
// and draws it unscaled: on a scaled screen each picture pixel becomes a block
// of device pixels, never a blur.
class ImageBox : public QWidget
{
    Q_OBJECT
public:
    explicit ImageBox(QWidget *parent = nullptr);

    const QImage &picture() const { return m_picture; }
    // Holds the new picture and releases the old one, then paints it at once, so
    // that a picture replaced a millisecond later has still been on screen.
    void setPicture(QImage picture);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage m_picture;
};
