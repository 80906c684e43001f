#include "runtime_services.h"

#include "accessible_roles.h"

#include <QMessageBox>

#ifdef __GLIBC__
#include <malloc.h>
#endif

RuntimeServices::RuntimeServices(std::unique_ptr<TimerSource> source) : m_timers(std::move(source))
{
    installAccessibleRoles();
#ifdef __GLIBC__
    // Every frame allocates a picture of the size of the one it replaces. Left
    // to itself, the allocator maps and unmaps that memory for each frame, and
    // the page faults cost more than the decoding; kept in the heap, it is
    // reused. Pictures above 32 MB are still mapped and given back at once.
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
#endif
}

RuntimeServices::~RuntimeServices() = default;

void RuntimeServices::report(const RuntimeError &error, QWidget *window)
{
    QMessageBox box(QMessageBox::Critical, window ? window->windowTitle() : QString(),
                    reportText(error), QMessageBox::NoButton, window);
    box.setObjectName(QStringLiteral("ErrorReport"));
    // The program's own button: Qt's standard one reads the Latin "OK" in Qt's
    // Russian texts, and takes that back at every change of language.
    box.addButton(QStringLiteral("ОК"), QMessageBox::AcceptRole);
    box.exec();
}

QString reportText(const RuntimeError &error)
{
    QString text = QStringLiteral("Ошибка выполнения %1:\n%2").arg(error.number()).arg(error.description());
    if (!error.fileName().isEmpty())
        text += QStringLiteral("\n\nФайл: «%1»").arg(error.fileName());
    return text;
}
