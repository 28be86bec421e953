#pragma once

#include <QtCore/QObject>
#include <QtCore/QString>
#include <QtCore/QTemporaryDir>

// The demo host's side of the media viewers: sample files for the page, the
// video window's progress in the transcript, closing the modal viewers
// itself in unattended runs, and closing open video windows before it quits.
class DemoMedia : public QObject
{
    Q_OBJECT
public:
    // Call before any page loads: the samples reach pages as
    // window.TaviDemoMedia = {video, picture, missingPicture, sound, autoClose}.
    // closeAfterMs > 0: nobody is there to close the modal viewers, so the
    // host does, this long after they open (autoClose true).
    DemoMedia(QObject* parent, int closeAfterMs);
    ~DemoMedia() override;

    // Where the samples are.
    QString folder() const { return m_dir.path(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void publishSamples();
    // Notes the video window's position.
    void onProgressTimerTimeout();
    void closeLater(QWidget* dialog);

    QTemporaryDir m_dir;
    int m_nCloseAfterMs = 0;
    int m_nLastSecond = -1;
};
