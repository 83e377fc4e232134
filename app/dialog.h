#pragma once

#include "interfaces/flash_parameter.h"

#include <QDialog>
#include <QStringList>

class MPThread;
class QSettings;
class Ui_Dialog;

// The tool's one window: the form, the remembered image paths, the worker
// and every display of its reports.
class Dialog : public QDialog
{
    Q_OBJECT

public:
    explicit Dialog(QWidget *parent = nullptr);
    ~Dialog() override;

signals:
    void __start_flash(flash_parameter param, quint8 type);
    void thread_close_serial_port();
    bool thread_open_serial_port(QString port_name, QString operation_name);

private slots:
    void on_burn_clicked();
    void on_choose_fw_clicked();
    void on_choose_fs_clicked();

public slots:
    void ui_set_progress(int value);
    void ui_set_progress_max(int maximum);
    void set_main_info(QString str, bool success);
    void ui_debug(QString line);
    void burn_done(bool ok);
    void burn_show(bool enable);
    void mac_done(bool ok);
    void ui_set_mac_text(QString mac_string, quint8 type);

protected:
    bool nativeEvent(const QByteArray &eventType, void *message, long *result) override;

private:
    void load_saved_paths();
    bool open_selected_port();
    void choose_image(class QLineEdit *path_field, const QString &settings_key);
    quint8 selected_operation_type() const;

    // The results journal: every operation the worker runs leaves a record,
    // and so does a press of the action button whose port did not open.
    void keep_journal();
    void journal_port_not_opened(const flash_parameter &param, quint8 type);

    // Device discovery: the port walk, the refresh that fills the port
    // selector and switches to the cellular variant, and the handling of one
    // device-change notification (same on every platform).
    bool find_ports();
    void device_refresh();
    void fill_operation_list(int count);
    void handle_device_change(quint32 event_code, bool volume_with_zero_flags);

    Ui_Dialog *ui;
    MPThread *thread;
    QSettings *settings;
    QStringList port_list;
};
