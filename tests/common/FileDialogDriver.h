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
    auto* nameField = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (dialog->fileMode() == QFileDialog::Directory) {
        dialog->setDirectory(path);
        if (nameField)
            nameField->clear();
    } else {
        const QFileInfo info(path);
        dialog->setDirectory(info.absolutePath());
        if (nameField)
            nameField->setText(info.fileName());
    }
    static_cast<QDialog*>(dialog)->accept(); // QFileDialog hides it; its checks still run
}

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

    // How many dialogs were seen, and what each showed when it opened.
    int count() const { return m_seen; }
    QString lastDirectory() const { return m_lastDirectory; }
    QStringList lastSelection() const { return m_lastSelection; }
    QStringList lastNameFilters() const { return m_lastNameFilters; }
    QString lastSelectedNameFilter() const { return m_lastSelectedNameFilter; }
    QFileDialog::FileMode lastFileMode() const { return m_lastFileMode; }
    QFileDialog::AcceptMode lastAcceptMode() const { return m_lastAcceptMode; }
    QFileDialog::Options lastOptions() const { return m_lastOptions; }

private:
    void poll()
    {
        QFileDialog* dialog = visibleFileDialog();
        if (!dialog || dialog == m_current)
            return;
        m_current = dialog;
        ++m_seen;
        m_lastDirectory = dialog->directory().absolutePath();
        m_lastSelection = dialog->selectedFiles();
        m_lastNameFilters = dialog->nameFilters();
        m_lastSelectedNameFilter = dialog->selectedNameFilter();
        m_lastFileMode = dialog->fileMode();
        m_lastAcceptMode = dialog->acceptMode();
        m_lastOptions = dialog->options();
        m_handler(dialog);
        if (m_current && m_current->isVisible())
            m_current->reject();
    }

    Handler m_handler;
    QTimer m_timer;
    QPointer<QFileDialog> m_current;
    int m_seen = 0;
    QString m_lastDirectory;
    QStringList m_lastSelection;
    QStringList m_lastNameFilters;
    QString m_lastSelectedNameFilter;
    QFileDialog::FileMode m_lastFileMode = QFileDialog::AnyFile;
    QFileDialog::AcceptMode m_lastAcceptMode = QFileDialog::AcceptOpen;
    QFileDialog::Options m_lastOptions;
};

} // namespace TestSupport
