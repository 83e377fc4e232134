#pragma once

#include <QHash>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

// Who serves at this station: an id typed, or scanned by a barcode scanner
// that types it and Enter. With a list of operators (id = name), an id not
// on it is refused and a listed one shows its name. A second scan of the
// same badge, or the button, asks to sign out; the station says when the
// sign-out has taken effect (nothing being served any more).
class SignInBar : public QWidget
{
    Q_OBJECT

public:
    explicit SignInBar(const QHash<QString, QString> &operators, QWidget *parent = nullptr);

    // What the bar says (tests and screenshots).
    QString shown_text() const;
    // The sign-out asked for has taken effect.
    void signed_out();
    // A scanner's text as an id: control characters (a scanner's prefixes,
    // a stray Tab) and surrounding blanks gone.
    static QString cleaned(const QString &typed);

signals:
    void signed_in(const QString &id);
    void sign_out_asked();

private:
    void take_typed();
    void ask_sign_out();

    const QHash<QString, QString> operators;
    QString signed_in_;
    bool leaving = false;
    QLineEdit *id_edit;
    QLabel *who;
    QPushButton *sign_out_button;
};
