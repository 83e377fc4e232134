#ifndef KV20_RESOURCES_H
#define KV20_RESOURCES_H

class QApplication;
class QObject;

// The picture bundle kv20.qrc is compiled into the static library kv20_form.
// A resource compiled into a static library is not registered by itself:
// the program calls kv20_register_resources() once at start-up and
// kv20_unregister_resources() when it ends.
// Afterwards ":/kv20/image/logo.jpg" and ":/kv20/image/zizaro.jpg" resolve.

void kv20_register_resources();
void kv20_unregister_resources();

// What both windows' texts need once the application object exists: a real
// face for the form's 黑体 wherever it is known by another name or missing,
// and the English catalogue qt_en from the working directory (a missing one
// leaves the Chinese). The catalogue lives as long as the application.
// True when the English catalogue was found.
bool kv20_install_texts(QApplication &app);

// The station's: kv20_install_texts(), and where the form stays Chinese, the
// Chinese of what the station says beyond its own texts: Qt's own buttons
// and dialogs (qtbase_zh_CN.qm from the programs' translations folder or
// Qt's) and the pages it writes (the shift report). Each catalogue lives as
// long as `owner`.
void kv20_install_station_texts(QApplication &app);
void kv20_install_chinese_catalogues(QObject *owner);

#endif // KV20_RESOURCES_H
