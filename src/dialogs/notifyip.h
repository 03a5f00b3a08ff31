#pragma once

#include <QDialog>
#include <QList>
#include <QWidget>

#include <cstdint>

class Prompter;
class QButtonGroup;
class QLineEdit;
class QPlainTextEdit;

// The address control (1089): four fields of 0 to 255. Blank fields count
// as 0; all blank is the value 0, the "blank" address.
class IpAddressCtrl : public QWidget
{
    Q_OBJECT
public:
    explicit IpAddressCtrl(QWidget *parent = nullptr);

    // Host byte order: the first field is the most significant byte.
    uint32_t address() const;
    // 0 blanks every field.
    void setAddress(uint32_t address);
    bool isBlank() const;
    QLineEdit *field(int i) const { return m_fields.value(i); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QList<QLineEdit *> m_fields;
};

// What the report dialog needs of the main window.
class NotifyIpHost
{
public:
    virtual ~NotifyIpHost() = default;
    // The address in use (dotted), empty when none.
    virtual QString currentAddress() const = 0;
    virtual Prompter &prompter() = 0;
    // Send report: builds SM_BAD_IP_REPORT and marks the address.
    virtual void sendReport(int category, const QString &address, const QString &reason) = 0;
};

// "불량IP신고" (template 175): the category, the address (the current one
// to start with) and the reason of a bad-address report.
class NotifyIp : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kAddressId = 1089;
    static constexpr int kReasonId = 1041;
    static constexpr int kFirstCategoryId = 1090;
    static constexpr int kMaxReason = 8192;

    explicit NotifyIp(NotifyIpHost &host, QWidget *parent = nullptr);
    ~NotifyIp() override;

    int category() const { return m_category; }
    IpAddressCtrl *addressControl() const { return m_address; }
    QPlainTextEdit *reasonEdit() const { return m_reason; }

    // "%d.%d.%d.%d", most significant byte first.
    static QString addressText(uint32_t address);

    // The send button (1).
    void accept() override;

private:
    NotifyIpHost &m_host;
    int m_category = -1;
    IpAddressCtrl *m_address = nullptr;
    QPlainTextEdit *m_reason = nullptr;
    QButtonGroup *m_categories = nullptr;
};
