#pragma once

#include "taviwebmodule_export.h"

#include <QtCore/QString>
#include <QtWidgets/QDialog>

// Frameless, always-on-top device alarm tip with "Prompt later" and
// "Close prompt".
class TAVIWEBMODULE_EXPORT CMessageBox : public QDialog
{
    Q_OBJECT
public:
    // An alarm tip over parent (may be null).
    explicit CMessageBox(QDialog* parent);
    ~CMessageBox() override;

    // Shows msg modally; true when the user chose "Prompt later".
    bool DevAlarmTips(QString msg);

private:
    int m_nResult; // -1 none, 0 "Prompt later", 1 "Close prompt"
};
