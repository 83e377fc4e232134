#include "station/sign_in_bar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

SignInBar::SignInBar(const QHash<QString, QString> &operators, QWidget *parent)
    : QWidget(parent)
    , operators(operators)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    id_edit = new QLineEdit(this);
    id_edit->setObjectName(QStringLiteral("operator_id"));
    id_edit->setPlaceholderText(tr("扫描或输入工号，按回车登录"));
    who = new QLabel(this);
    // An id is whatever a badge holds: shown as written, never as markup.
    who->setTextFormat(Qt::PlainText);
    QFont big = who->font();
    big.setPixelSize(18);
    who->setFont(big);
    id_edit->setFont(big);
    sign_out_button = new QPushButton(tr("退出登录"), this);
    sign_out_button->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(who, 1);
    layout->addWidget(id_edit, 1);
    layout->addWidget(sign_out_button);
    connect(id_edit, &QLineEdit::returnPressed, this, &SignInBar::take_typed);
    connect(sign_out_button, &QPushButton::clicked, this, &SignInBar::ask_sign_out);
    signed_out();
}

QString SignInBar::cleaned(const QString &typed)
{
    QString id;
    for (const QChar c : typed) {
        if (c.category() != QChar::Other_Control && c.category() != QChar::Other_Format)
            id += c;
    }
    return id.trimmed();
}

void SignInBar::take_typed()
{
    const QString id = cleaned(id_edit->text());
    id_edit->clear();
    if (id.isEmpty())
        return;
    if (!signed_in_.isEmpty()) {
        // The same badge again signs out; another one waits its turn.
        if (id == signed_in_)
            ask_sign_out();
        return;
    }
    if (!operators.isEmpty() && !operators.contains(id)) {
        who->setText(tr("工号 %1 未登记，不能登录").arg(id));
        return;
    }
    signed_in_ = id;
    const QString name = operators.value(id);
    who->setText(name.isEmpty() ? tr("操作员：%1").arg(id) : tr("操作员：%1（%2）").arg(id, name));
    sign_out_button->setEnabled(true);
    emit signed_in(id);
}

void SignInBar::ask_sign_out()
{
    if (signed_in_.isEmpty() || leaving)
        return;
    leaving = true;
    sign_out_button->setEnabled(false);
    who->setText(tr("操作员：%1  退出中：等待正在进行的模块").arg(signed_in_));
    emit sign_out_asked();
}

void SignInBar::signed_out()
{
    signed_in_.clear();
    leaving = false;
    sign_out_button->setEnabled(false);
    who->setText(tr("未登录：请扫描工牌"));
    id_edit->setFocus();
}

QString SignInBar::shown_text() const
{
    return who->text();
}
