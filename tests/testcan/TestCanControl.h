#pragma once

// How tests steer the "testcan" back-end. The back-end is loaded by Qt's CAN
// bus module as a plug-in, so tests reach it only through Qt: settings and
// the last created device live as dynamic properties of the application
// object, and a device's own controls are invokable methods and dynamic
// properties of the device.
namespace TestCan {

constexpr char pluginKey[] = "testcan";

// Application properties.
// QObject*: the device created last (cleared when it is destroyed).
constexpr char lastDevice[] = "testcanDevice";
// QStringList: the interfaces listed; "test0" and "test1" when unset.
constexpr char interfaces[] = "testcanInterfaces";
// QString: when not empty, listing the interfaces also reports this error.
constexpr char enumerationError[] = "testcanEnumerationError";
// QString: interface name of the device last disconnected.
constexpr char lastDisconnected[] = "testcanLastDisconnected";
// int: when set as a device is created, the QCanBusDevice::CanBusStatus that
// it reports; unset, it reports none.
constexpr char busStatus[] = "testcanBusStatus";
// bool: whether the device that lost its bus was still alive after telling.
constexpr char survivedLoss[] = "testcanSurvivedLoss";

// Interface names with a behaviour of their own; any other name connects.
constexpr char refuseCreate[] = "refuse-create"; // the factory returns no device
constexpr char failConnect[] = "fail-connect";   // connecting fails with a ConnectionError
constexpr char refuseCreateError[] = "testcan creates no device here";
constexpr char failConnectError[] = "testcan cannot connect";

// Device controls.
// Q_INVOKABLE void injectError(int code, QString text): reports a bus error.
// Q_INVOKABLE void resetError(): back to NoError.
// Q_INVOKABLE void injectFrame(int frameType, uint frameId, QByteArray payload):
//     queues one received frame and announces it.
// Q_INVOKABLE void loseBus(): goes unconnected by itself, as when the bus goes.
// Dynamic property "refuseWrites" (bool): writeFrame() refuses every frame.
// Dynamic property "written" (QVariantList of QVariantMap): every frame handed
//     to writeFrame(), with keys "id", "payload", "type", "extended", "fd",
//     "valid" and "accepted". Invalid frames are refused.
constexpr char refuseWrites[] = "refuseWrites";
constexpr char written[] = "written";

} // namespace TestCan
