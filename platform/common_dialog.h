#pragma once

#include <QObject>
#include <QString>

// A common dialog control that is never opened: it only holds a file name.
class CommonDialog : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    QString fileName() const { return m_fileName; }
    void setFileName(const QString &fileName) { m_fileName = fileName; }

private:
    QString m_fileName;
};
