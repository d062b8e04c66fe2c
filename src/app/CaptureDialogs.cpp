#include "app/CaptureDialogs.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "text/HexText.h"

CLogDialog::CLogDialog(const QString& path, const SLogOptions& options, QWidget* parent) : QDialog(parent)
{
    setWindowTitle("Log to File");
    m_path = new QLineEdit(path.isEmpty() ? SuggestedName() : path);
    m_path->setObjectName("logPath");
    m_path->setAccessibleName("Log file");
    auto* browse = new QPushButton("&Browse...");
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString chosen = QFileDialog::getSaveFileName(this, "Log to File", m_path->text(),
                                                            "Log Files (*.log);;All Files (*)");
        if (!chosen.isEmpty())
            m_path->setText(chosen);
    });
    m_timestamps = new QCheckBox("&Timestamps at the start of each line");
    m_sent = new QCheckBox("&Sent data too (lines marked RX: and TX:)");
    m_raw = new QCheckBox("&Raw: received bytes exactly, nothing added");
    m_append = new QCheckBox("&Append to the file");
    m_timestamps->setObjectName("logTimestamps");
    m_sent->setObjectName("logSent");
    m_raw->setObjectName("logRaw");
    m_append->setObjectName("logAppend");
    m_timestamps->setChecked(options.timestamps);
    m_sent->setChecked(options.sent);
    m_raw->setChecked(options.raw);
    m_append->setChecked(options.append);
    auto rawRules = [this] {
        m_timestamps->setEnabled(!m_raw->isChecked());
        m_sent->setEnabled(!m_raw->isChecked());
    };
    connect(m_raw, &QCheckBox::toggled, this, rawRules);
    rawRules();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText("&Start");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* file = new QHBoxLayout;
    auto* label = new QLabel("&File:");
    label->setBuddy(m_path);
    file->addWidget(label);
    file->addWidget(m_path, 1);
    file->addWidget(browse);
    auto* column = new QVBoxLayout(this);
    column->addLayout(file);
    for (QCheckBox* box : {m_timestamps, m_sent, m_raw, m_append})
        column->addWidget(box);
    column->addWidget(buttons);
    resize(520, sizeHint().height());
}

QString CLogDialog::Path() const { return m_path->text(); }

SLogOptions CLogDialog::Options() const
{
    SLogOptions options;
    options.raw = m_raw->isChecked();
    options.timestamps = !options.raw && m_timestamps->isChecked();
    options.sent = !options.raw && m_sent->isChecked();
    options.append = m_append->isChecked();
    return options;
}

QString CLogDialog::SuggestedName()
{
    return QDir::current().filePath("vorla-" + QDateTime::currentDateTime().toString("yyyy-MM-dd-HHmmss") + ".log");
}

CSendHexDialog::CSendHexDialog(const QString& text, QWidget* parent) : QDialog(parent)
{
    setWindowTitle("Send Hex");
    m_text = new QLineEdit(text);
    m_text->setObjectName("hexText");
    m_text->setAccessibleName("Bytes in hex");
    m_text->setPlaceholderText("48 65 6C 6C 6F 0D 0A");
    m_error = new QLabel;
    m_error->setObjectName("hexError");
    auto* label = new QLabel("&Bytes in hex (spaces optional):");
    label->setBuddy(m_text);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText("&Send");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* column = new QVBoxLayout(this);
    column->addWidget(label);
    column->addWidget(m_text);
    column->addWidget(m_error);
    column->addWidget(buttons);
    resize(480, sizeHint().height());
}

QString CSendHexDialog::Text() const { return m_text->text(); }

void CSendHexDialog::accept()
{
    const std::string text = m_text->text().toStdString();
    const SHexParse parsed = ParseHexBytes(text);
    if (!parsed.ok) {
        m_error->setText(QString::fromStdString(parsed.error + " at position " + std::to_string(parsed.position)));
        m_text->setFocus();
        m_text->setSelection(static_cast<int>(parsed.position) - 1, 1);
        return;
    }
    m_bytes = parsed.bytes;
    QDialog::accept();
}
