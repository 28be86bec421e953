#include "MyMessageBox.h"

CMessageBox::CMessageBox(QDialog* parent)
    : QDialog(parent)
    , m_nResult(-1)
{
}

CMessageBox::~CMessageBox() = default;

bool CMessageBox::DevAlarmTips(QString msg)
{
    Q_UNUSED(msg);
    return m_nResult == 0;
}
