#pragma once

#include "host/AbstractTreeItem.h"
#include "host/host_export.h"

#include <QFlags>
#include <QVariant>

class Plugin_Com_Device;

// One link of a device. The host configures it through named properties,
// opens and closes it, and moves bytes (or frames with an identifier).
class HOST_EXPORT Plugin_Com_Port : public AbstractTreeItem
{
    Q_OBJECT
public:
    enum OpenModeFlag {
        Read = 1,
        Write = 2,
        ReadWrite = Read | Write,
    };
    Q_DECLARE_FLAGS(OpenMode, OpenModeFlag)

    Plugin_Com_Port(Plugin_Com_Device *device, const QString &typeKey);
    ~Plugin_Com_Port() override;

    Plugin_Com_Device *device() const { return m_device; }
    QString typeKey() const { return m_typeKey; }

    // Frame-carrying variants, used when usesFrameIds() is true.
    virtual int writeRawData(const char *data, int len, unsigned int frameId);
    virtual int writeByteStream(const char *data, int len, unsigned int frameId);
    virtual int readRawData(char *buffer, int maxLen, unsigned int *frameId);
    virtual int readByteStream(char *buffer, int maxLen, unsigned int *frameId);

    virtual int writeRawData(const char *data, int len) = 0;
    virtual int writeByteStream(const char *data, int len) = 0;
    virtual int readRawData(char *buffer, int maxLen) = 0;
    virtual int readByteStream(char *buffer, int maxLen) = 0;

    virtual bool usesFrameIds() const { return false; }

    virtual void close() = 0;
    virtual bool open(QFlags<OpenModeFlag> mode) = 0;
    virtual bool opened() const = 0;
    virtual bool supportsHandler(const QString &kind);

    virtual QVariant setTavlinProperty(QString name, QVariant value) = 0;
    virtual QVariant getTavlinProperty(QString name) const = 0;
    virtual AbstractTreeItem *createInstance() = 0;

    // The text under which the host shows the port: "interface.device".
    QString defaultText() const;

    bool isPluginPort() const { return m_pluginPort; }
    int frameLength() const { return m_frameLength; }

signals:
    void readyRead();

protected:
    // Set by every plug-in port: the port is driven through its properties.
    bool m_pluginPort = false;
    // Payload bytes per frame for frame-carrying ports; 0 for byte streams.
    int m_frameLength = 0;

private:
    Plugin_Com_Device *m_device;
    QString m_typeKey;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(Plugin_Com_Port::OpenMode)
