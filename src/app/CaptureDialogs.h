#pragma once

#include <QDialog>

#include <string>

#include "log/LogFormat.h"

class QCheckBox;
class QLabel;
class QLineEdit;

// File > Log to File: the file (a suggested name, Browse... for a save
// dialog) and what the log holds. Raw takes neither timestamps nor sent data.
class CLogDialog : public QDialog {
    Q_OBJECT
public:
    CLogDialog(const QString& path, const SLogOptions& options, QWidget* parent = nullptr);
    QString Path() const;
    SLogOptions Options() const;
    // vorla-2026-12-08-120000.log, in the current directory
    static QString SuggestedName();

private:
    QLineEdit* m_path;
    QCheckBox* m_timestamps;
    QCheckBox* m_sent;
    QCheckBox* m_raw;
    QCheckBox* m_append;
};

// Edit > Send Hex: a field for bytes typed as hex. OK with text that is not
// hex keeps the dialog open and says what is wrong and where.
class CSendHexDialog : public QDialog {
    Q_OBJECT
public:
    explicit CSendHexDialog(const QString& text, QWidget* parent = nullptr);
    QString Text() const;
    std::string Bytes() const { return m_bytes; }
    void accept() override;

private:
    QLineEdit* m_text;
    QLabel* m_error;
    std::string m_bytes;
};
