#include "runtime_services.h"

#include <QMessageBox>

RuntimeServices::RuntimeServices(std::unique_ptr<TimerSource> source) : m_timers(std::move(source))
{
}

RuntimeServices::~RuntimeServices() = default;

void RuntimeServices::report(const RuntimeError &error, QWidget *window)
{
    QMessageBox box(QMessageBox::Critical, window ? window->windowTitle() : QString(),
                    reportText(error), QMessageBox::Ok, window);
    box.setObjectName(QStringLiteral("ErrorReport"));
    box.exec();
}

QString reportText(const RuntimeError &error)
{
    QString text = QStringLiteral("Ошибка выполнения %1:\n%2").arg(error.number()).arg(error.description());
    if (!error.fileName().isEmpty())
        text += QStringLiteral("\n\nФайл: «%1»").arg(error.fileName());
    return text;
}
