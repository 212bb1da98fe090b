#pragma once
// The dialogs the status page opens for its ticked devices: Set IP (an address range handed
// out one by one, then a timed progress with searches), Set Bridge and AirSlot (one switch
// for all of them). The checks, blocks and workers are in the core; these gather the fields,
// show the message and start the page's worker.

#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

#include "controls/t_dialog.h"
#include "presentation/device_list.h"
#include "actions/device_workers.h"

class CTButtonPicture;
class CTEdit;
class CTStatic;
class QProgressBar;
class QRadioButton;

namespace fd {
// Title strip, close button, Save and Cancel: the frame the three dialogs share.
class MultiSetFrame : public CTDialog {
    Q_OBJECT
public:
    MultiSetFrame(const QString& title, QSize size, QWidget* parent);

    CTButtonPicture* SaveButton() const { return m_save; }
    CTButtonPicture* CancelButton() const { return m_cancel; }
    CTButtonPicture* CloseButton() const { return m_close; }

protected:
    CTStatic* AddLabel(const QString& key, int x, int y, int w);

private:
    CTStatic* m_title;
    CTButtonPicture* m_close;
    CTButtonPicture* m_save;
    CTButtonPicture* m_cancel;
};
}  // namespace fd

class CIpsetMutilDlg : public fd::MultiSetFrame {
    Q_OBJECT
public:
    // first: the stored record of the first selected device (its addresses fill the form).
    // The worker runs in the status page's slot and outlives the dialog.
    CIpsetMutilDlg(std::vector<fd::SelectedDevice> devices, const ap_info_stu& first,
                   fd::WorkerSlot& slot, fd::IDeviceEngine& engine, QWidget* parent = nullptr);

    // Save: the several-device check, then the worker and the progress.
    void OnSave();
    // One half-second of the progress (timer 1000); tests call it directly.
    void OnProgressTick();

    fd::MultiSetIpParams Form() const;
    CTEdit* BeginEdit() const { return m_begin; }
    CTEdit* EndEdit() const { return m_end; }
    CTEdit* MaskEdit() const { return m_mask; }
    CTEdit* GatewayEdit() const { return m_gateway; }
    CTEdit* Dns1Edit() const { return m_dns1; }
    CTEdit* Dns2Edit() const { return m_dns2; }
    QProgressBar* Progress() const { return m_bar; }
    const fd::IpSetProgress* ProgressState() const { return m_progress.get(); }
    QTimer& ProgressTimer() { return m_timer; }

private:
    CTEdit* AddAddress(const QString& label, int y);

    std::vector<fd::SelectedDevice> m_devices;
    fd::WorkerSlot& m_slot;
    fd::IDeviceEngine& m_engine;
    CTEdit* m_begin;
    CTEdit* m_end;
    CTEdit* m_mask;
    CTEdit* m_gateway;
    CTEdit* m_dns1;
    CTEdit* m_dns2;
    QProgressBar* m_bar;
    std::unique_ptr<fd::IpSetProgress> m_progress;
    QTimer m_timer;
};

namespace fd {
// Enable / Disable_off for all ticked devices; Save hands the choice (1 or 0) to the page,
// which writes it into its setting block and starts its worker.
class SwitchSetMultiDlg : public MultiSetFrame {
    Q_OBJECT
public:
    using SaveHandler = std::function<void(int enable)>;
    SwitchSetMultiDlg(const QString& title, const QString& label, int current, SaveHandler onSave,
                      QWidget* parent);

    void OnSave();
    int Choice() const { return m_choice; }
    QRadioButton* EnableRadio() const { return m_enable; }
    QRadioButton* DisableRadio() const { return m_disable; }

private:
    QRadioButton* m_enable;
    QRadioButton* m_disable;
    int m_choice;
    SaveHandler m_onSave;
};
}  // namespace fd

class CBridgeSetMultiDlg : public fd::SwitchSetMultiDlg {
    Q_OBJECT
public:
    CBridgeSetMultiDlg(int bridgeTransparent, SaveHandler onSave, QWidget* parent = nullptr)
        : SwitchSetMultiDlg(QStringLiteral("Set Bridge"), QStringLiteral("Set Bridge"),
                            bridgeTransparent, std::move(onSave), parent) {}
};

class CAirSlotSetMultiDlg : public fd::SwitchSetMultiDlg {
    Q_OBJECT
public:
    CAirSlotSetMultiDlg(int tdmaEn, SaveHandler onSave, QWidget* parent = nullptr)
        : SwitchSetMultiDlg(QStringLiteral("AirSlot"), QStringLiteral("AirSlot"), tdmaEn,
                            std::move(onSave), parent) {}
};
