#pragma once

#include "session/sessioncodec.h"

#include <QObject>

// Turns each received frame into one signal of its message kind, with the
// payload decoded into plain records. The frame has already passed the
// reader's checks (frameRecordsFit). Types the client does not use (4, 5, 6,
// 24, 26, 27, 29, 30, 32 and any other) come out as messageIgnored.
class SessionDispatcher : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // productType picks the record kind of SM_IP_INFO and SM_IP_INFO_UPDATE.
    void dispatch(const SessionFrame &frame, int productType);

Q_SIGNALS:
    void loginAccepted(); // 7
    void loginRefused(); // 8
    void expireDateReceived(qint64 secondsSince1970Utc); // 9
    void fixedListReceived(const QList<FixedIpInfo> &records); // 10, fixed products
    void dynamicListReceived(const QList<DynamicIpList> &records); // 10, dynamic product
    void fixedListUpdated(const QList<FixedIpInfo> &records); // 11, fixed products
    void dynamicListUpdated(const QList<DynamicIpList> &records); // 11, dynamic product
    void dynamicIpInfoReceived(const QList<DynamicIpList> &records); // 31
    void changeCompleted(const QString &address); // 12
    void changeFailed(); // 13
    void addressInUse(const IpPcNotice &notice); // 14
    void addressTaken(const IpPcNotice &notice); // 15
    void addressReleased(const QString &address); // 16
    void addressShared(const IpShareNotice &notice); // 17
    void addressUnshared(const IpShareNotice &notice); // 18
    void addressesAdded(); // 19
    void sessionEnded(int type); // 20, 21, 22, 23
    void reportedListReceived(const QStringList &addresses); // 25
    void memoListReceived(const QList<MemoInfo> &records); // 28
    void messageIgnored(int type);
};
