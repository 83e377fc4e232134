#include <QCoreApplication>

int run_port_rules_tests(int argc, char **argv);
int run_sysfs_ports_tests(int argc, char **argv);
int run_device_changes_tests(int argc, char **argv);

// One executable for the discovery area: each group is its own test object,
// and the process fails if any of them does.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int failures = 0;
    failures += run_port_rules_tests(argc, argv);
    failures += run_sysfs_ports_tests(argc, argv);
    failures += run_device_changes_tests(argc, argv);
    return failures;
}
