#pragma once
// The System tool page: the PC's network adapters as the protocol sees them, one row each,
// read again every five seconds.

#include <QTimer>

#include "app/child_page.h"
#include "system/local_adapters.h"

class CGridCtrl;
class CTStatic;

class CSystemToolDlg : public CChildPage {
    Q_OBJECT
public:
    explicit CSystemToolDlg(QWidget* parent = nullptr);

    void FillGrid();
    CGridCtrl* Grid() const { return m_grid; }
    CTStatic* CountLabel() const { return m_count; }

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    CTStatic* m_title;
    CTStatic* m_count;
    CGridCtrl* m_grid;
    QTimer m_timer;
};

namespace fd {
// The IP column of one adapter: its addresses in order joined by "--".
QString AdapterIpText(const LocalAdapterInfo& adapter);
QString AdapterMacText(const LocalAdapterInfo& adapter);
// A "%d" format from the language file filled in.
QString FormatCount(const QString& format, int value);
}  // namespace fd
