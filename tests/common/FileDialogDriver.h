#pragma once

// Answers the modal file dialogs that the module opens (Qt's own dialog on
// the offscreen platform), as a user would, from a timer.

#include <QtCore/QFileInfo>
#include <QtCore/QPointer>
#include <QtCore/QTimer>
#include <QtWidgets/QApplication>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QLineEdit>
#include <functional>

namespace TestSupport {

// The file dialog shown at the moment, or null.
inline QFileDialog* visibleFileDialog()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QFileDialog*>(w);
        if (dialog && dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

// Picks path (a file or a folder) in the dialog and presses its accept. The
// name is typed into the dialog's name field: selectFile() leaves a focused
// field alone.
inline void chooseInDialog(QFileDialog* dialog, const QString& path)
{
    const bool folder = dialog->fileMode() == QFileDialog::Directory;
    dialog->setDirectory(folder ? path : QFileInfo(path).absolutePath());
    if (auto* nameField = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        nameField->setText(folder ? QString() : QFileInfo(path).fileName());
    static_cast<QDialog*>(dialog)->accept(); // QFileDialog hides it; its checks still run
}

// What a dialog showed when it opened.
struct SeenDialog
{
    QString directory;
    QStringList selection;
    QStringList nameFilters;
    QString selectedNameFilter;
    QFileDialog::FileMode fileMode = QFileDialog::AnyFile;
    QFileDialog::AcceptMode acceptMode = QFileDialog::AcceptOpen;
    QFileDialog::Options options;
};

// Watches for file dialogs while alive: each one that shows up is handed to
// the handler, which must close it (chooseInDialog, or reject()). A dialog
// that the handler leaves open is rejected, so a test never hangs on it.
class FileDialogDriver : public QObject
{
public:
    using Handler = std::function<void(QFileDialog*)>;

    explicit FileDialogDriver(Handler handler)
        : m_handler(std::move(handler))
    {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
        m_timer.start();
    }

    // How many dialogs were seen, and the last one.
    int count() const { return m_seen; }
    const SeenDialog& last() const { return m_last; }

private:
    void poll()
    {
        QFileDialog* dialog = visibleFileDialog();
        if (!dialog || dialog == m_current)
            return;
        m_current = dialog;
        ++m_seen;
        m_last = { dialog->directory().absolutePath(), dialog->selectedFiles(),
            dialog->nameFilters(), dialog->selectedNameFilter(), dialog->fileMode(),
            dialog->acceptMode(), dialog->options() };
        m_handler(dialog);
        if (m_current && m_current->isVisible())
            m_current->reject();
    }

    Handler m_handler;
    QTimer m_timer;
    QPointer<QFileDialog> m_current;
    int m_seen = 0;
    SeenDialog m_last;
};

} // namespace TestSupport
