#pragma once

#include <QtCore/QObject>
#include <QtCore/QString>
#include <QtCore/QTemporaryDir>

// The demo host's side of the media viewers: sample files for the page, the
// video lines of the host log in the transcript, closing the modal viewers
// itself in unattended runs, and closing open video windows before it quits.
class DemoMedia : public QObject
{
    Q_OBJECT
public:
    // Call before any page loads: the samples reach pages as
    // window.TaviDemoMedia = {video, picture, missingPicture, sound, autoClose}.
    // autoClose: nobody is there to close the modal viewers; the host does.
    DemoMedia(QObject* parent, bool autoClose);
    ~DemoMedia() override;

    // Where the samples are.
    QString folder() const { return m_dir.path(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void publishSamples();
    // Forwards the host log's video lines and the video window's position.
    void onLogTimerTimeout();
    void closeLater(QWidget* dialog);

    QTemporaryDir m_dir;
    bool m_bAutoClose = false;
    int m_nLogLinesSeen = 0;
    int m_nLastSecond = -1;
};
