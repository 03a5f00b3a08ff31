#include "sessiondispatcher.h"

using namespace SessionWire;

void SessionDispatcher::dispatch(const SessionFrame &frame, int productType)
{
    const bool dynamic = productType == kProductDynamic;
    switch (frame.type) {
    case SM_LOGIN_OK:
        Q_EMIT loginAccepted();
        break;
    case SM_LOGIN_FAIL:
        Q_EMIT loginRefused();
        break;
    case SM_EXPIRE_DATE:
        Q_EMIT expireDateReceived(SessionDecode::expireDate(frame));
        break;
    case SM_IP_INFO:
        if (dynamic)
            Q_EMIT dynamicListReceived(SessionDecode::dynamicList(frame));
        else
            Q_EMIT fixedListReceived(SessionDecode::fixedList(frame));
        break;
    case SM_IP_INFO_UPDATE:
        if (dynamic)
            Q_EMIT dynamicListUpdated(SessionDecode::dynamicList(frame));
        else
            Q_EMIT fixedListUpdated(SessionDecode::fixedList(frame));
        break;
    case SM_DYNAMIC_IP_INFO:
        Q_EMIT dynamicIpInfoReceived(SessionDecode::dynamicList(frame));
        break;
    case SM_IP_CHANGE_OK:
        Q_EMIT changeCompleted(SessionDecode::address(frame));
        break;
    case SM_IP_CHANGE_FAIL:
        Q_EMIT changeFailed();
        break;
    case SM_IP_IN_USE:
        Q_EMIT addressInUse(SessionDecode::ipPcNotice(frame));
        break;
    case SM_IP_TAKEN:
        Q_EMIT addressTaken(SessionDecode::ipPcNotice(frame));
        break;
    case SM_IP_RELEASED:
        Q_EMIT addressReleased(SessionDecode::address(frame));
        break;
    case SM_IP_SHARE_ADD:
        Q_EMIT addressShared(SessionDecode::ipShareNotice(frame));
        break;
    case SM_IP_SHARE_REMOVE:
        Q_EMIT addressUnshared(SessionDecode::ipShareNotice(frame));
        break;
    case SM_IP_ADDED:
        Q_EMIT addressesAdded();
        break;
    case SM_SERVER_FULL:
    case SM_NO_DYNAMIC_PRODUCT:
    case SM_SERVER_DISCONNECT:
    case SM_DUPLICATE_LOGIN:
        Q_EMIT sessionEnded(frame.type);
        break;
    case SM_BAD_IP_LIST:
        Q_EMIT reportedListReceived(SessionDecode::reportedList(frame));
        break;
    case SM_MEMO_LIST:
        Q_EMIT memoListReceived(SessionDecode::memoList(frame));
        break;
    default:
        Q_EMIT messageIgnored(frame.type);
        break;
    }
}
