// The English catalogue the tool loads (qt_en.qm): every text of the window
// has a translation, so that an English operator never meets a Chinese one.
#include "ui_dialog.h"

#include <QtTest>

namespace {
// The catalogue, noting each text of the window it cannot translate.
struct CheckedCatalogue : QTranslator
{
    QTranslator catalogue;
    mutable QStringList missing;
    QString translate(const char *context, const char *source, const char *disambiguation, int n) const override
    {
        const QString text = catalogue.translate(context, source, disambiguation, n);
        if (text.isEmpty() && qstrcmp(context, "Dialog") == 0)
            missing << QString::fromUtf8(source);
        return text;
    }
    bool isEmpty() const override { return false; }
};
} // namespace

class FormTest : public QObject
{
    Q_OBJECT

private slots:
    void english_catalogue_covers_the_window()
    {
        CheckedCatalogue english;
        QVERIFY(english.catalogue.load(QStringLiteral(KV20_BIN_DIR "/qt_en.qm")));
        QCoreApplication::installTranslator(&english);
        QDialog dialog;
        Ui_Dialog().setupUi(&dialog);
        // The image chooser's caption and filter.
        QCoreApplication::translate("Dialog", "Open Image");
        const QString filter = QCoreApplication::translate("Dialog", "Files(*.img *.bin)");
        QCoreApplication::removeTranslator(&english);
        QCOMPARE(english.missing, QStringList());
        QVERIFY2(filter.endsWith("(*.img *.bin)"), qPrintable(filter));
    }
};

QTEST_MAIN(FormTest)
#include "tst_form.moc"
