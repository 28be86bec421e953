#include "DemoFiles.h"

#include "DemoHost.h"
#include "DownloadServer.h"
#include "MediaSamples.h"

#include <QtCore/QDir>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QStandardPaths>
#include <QtCore/QTemporaryDir>
#include <QtCore/QTimer>
#include <QtWidgets/QApplication>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QLineEdit>

namespace {

QByteArray reportPdf()
{
    return "%PDF-1.4\n% Tavi demo report\n1 0 obj << /Type /Catalog >> endobj\n"
           "trailer << /Root 1 0 R >>\n%%EOF\n";
}

} // namespace

DemoFiles::DemoFiles(QObject* parent, bool answerDialogs)
    : QObject(parent)
{
    // A fresh scratch folder per run, of its own: demo hosts running at the
    // same time must not empty each other's. What the page writes is there to
    // look at while the demo runs; the folder goes when it ends.
    QTemporaryDir scratch(QStandardPaths::writableLocation(QStandardPaths::TempLocation)
                          + QStringLiteral("/tavi-demo-files-XXXXXX"));
    scratch.setAutoRemove(false);
    if (!scratch.isValid())
        DemoHost::note(
            QStringLiteral("demo files: no scratch folder: %1").arg(scratch.errorString()));
    m_strFolder = scratch.path();
    QDir().mkpath(m_strFolder + QStringLiteral("/sounds"));
    if (!MediaSamples::writeBell(m_strFolder + QStringLiteral("/sounds/bell.wav")))
        DemoHost::note(QStringLiteral("demo files: the bell sound could not be written"));

    m_pServer = new DownloadServer(this);
    if (!m_pServer->start())
        DemoHost::note(QStringLiteral("demo files: the download server could not listen"));
    m_pServer->addFile(QStringLiteral("/files/report.pdf"), reportPdf(),
                       QStringLiteral("report.pdf"));

    const QJsonObject info {
        { QStringLiteral("folder"), m_strFolder },
        { QStringLiteral("downloadUrl"),
          m_pServer->url(QStringLiteral("/files/report.pdf")).toString() },
        { QStringLiteral("answeredDialogs"), answerDialogs },
    };
    DemoHost::publishToPages(QStringLiteral("demoFiles"), info);
    DemoHost::note(QStringLiteral("demo files in %1, downloads served from %2")
                       .arg(m_strFolder, info.value(QStringLiteral("downloadUrl")).toString()));

    if (answerDialogs) {
        m_pDialogWatch = new QTimer(this);
        m_pDialogWatch->setInterval(700); // a user's pace: each dialog is seen open
        connect(m_pDialogWatch, &QTimer::timeout, this, &DemoFiles::onDialogWatchTimeout);
        m_pDialogWatch->start();
    }
}

DemoFiles::~DemoFiles()
{
    if (!m_strFolder.isEmpty())
        QDir(m_strFolder).removeRecursively();
}

QUrl DemoFiles::serverUrl() const
{
    return m_pServer->url(QStringLiteral("/"));
}

void DemoFiles::onDialogWatchTimeout()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QFileDialog*>(w);
        if (!dialog || !dialog->isVisible())
            continue;
        // Typed into the name field, as a user would; selectFile() leaves a
        // focused field alone.
        auto* nameField = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        QString folder = m_strFolder;
        QString name;
        if (dialog->fileMode() == QFileDialog::Directory) {
            name.clear(); // the scratch folder itself
        } else if (dialog->acceptMode() == QFileDialog::AcceptOpen) {
            folder = m_strFolder + QStringLiteral("/sounds");
            name = QStringLiteral("bell.wav");
        } else {
            // Save: the suggested name, in a folder of the user's choosing.
            folder = m_strFolder + QStringLiteral("/picked");
            name = dialog->selectedFiles().value(0).section(QLatin1Char('/'), -1);
            QDir().mkpath(folder);
        }
        DemoHost::note(QStringLiteral("file dialog answered with %1")
                           .arg(name.isEmpty() ? folder : folder + QLatin1Char('/') + name));
        dialog->setDirectory(folder);
        if (nameField)
            nameField->setText(name);
        static_cast<QDialog*>(dialog)->accept(); // QFileDialog hides it; its checks still run
        return;
    }
}
