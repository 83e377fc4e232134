#include "cli/operation_request.h"

#include "db/station_journals.h"
#include "journal/station_name.h"
#include "protocol/download_session.h"

#include <QCryptographicHash>
#include <QDir>

Failure prepare_request(const CliOptions &options, ModuleSession::Request *request)
{
    request->type = options.operation_type();
    request->image = options.image;
    request->cellular = options.cellular;
    request->operator_id = options.operator_id;
    request->work_order = options.work_order;
    if (options.watch) {
        // Tests shorten the time a module counts as the one served before;
        // nobody else needs to.
        bool set = false;
        const int same_module_ms = qEnvironmentVariableIntValue("KV20_SAME_MODULE_MS", &set);
        request->served = std::make_shared<ServedModules>(set ? same_module_ms : ServedModules::same_module_ms);
        // A port that has just appeared may still be probed by another
        // program or set up by its driver.
        request->open_retry_ms = 3000;
        read_again_policy(options.again, &request->again);
        if (request->again != AgainPolicy::allow) {
            auto done_before = std::make_shared<DoneBefore>(station_name(QDir::currentPath()), options.db_url);
            read_ok_records(QDir::currentPath(), [&](const JournalReader &reader) { done_before->take(reader); });
            request->done_before = done_before;
        }
    }
    if (options.command == CliOptions::query)
        return Failure::none;
    QByteArray image;
    const Failure refused = image_read_failure(read_image_file(options.image, &image));
    request->image_sha256 = QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex();
    return refused;
}
