<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="zh_CN">
<context>
    <name>Dialog</name>
    <message>
        <source>KV20 Wi-Fi模组烧写工具 V1.0.0</source>
        <translation>KV20 Wi-Fi Module Flashing Tool V1.0.0</translation>
    </message>
    <message>
        <source>音频更换</source>
        <translation>Audio replacement</translation>
    </message>
    <message>
        <source>设备查询</source>
        <translation>Device query</translation>
    </message>
    <message>
        <source>固件升级</source>
        <translation>Firmware upgrade</translation>
    </message>
    <message>
        <source>设备编号：</source>
        <translation>Device No.:</translation>
    </message>
    <message>
        <source>MAC 地址：</source>
        <translation>MAC address:</translation>
    </message>
    <message>
        <source>音频版本：</source>
        <translation>Audio version:</translation>
    </message>
    <message>
        <source>设备版本：</source>
        <translation>Device version:</translation>
    </message>
    <message>
        <source>就绪</source>
        <translation>Ready</translation>
    </message>
    <message>
        <source>开始</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>操作</source>
        <translation>Operation</translation>
    </message>
    <message>
        <source>固件路径：</source>
        <translation>Firmware path:</translation>
    </message>
    <message>
        <source>x:\文件路径:设备固件存放路径</source>
        <translation>x:\file path: where the device firmware is stored</translation>
    </message>
    <message>
        <source>…</source>
        <translation>…</translation>
    </message>
    <message>
        <source>音频路径：</source>
        <translation>Audio path:</translation>
    </message>
    <message>
        <source>x:\文件路径:音频合成文件存放路径</source>
        <translation>x:\file path: where the synthesized audio file is stored</translation>
    </message>
    <message>
        <source>配置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>日志</source>
        <translation>Log</translation>
    </message>
    <message>
        <source>Open Image</source>
        <translation>Open Image</translation>
    </message>
    <message>
        <source>Files(*.img *.bin)</source>
        <translation>Images (*.img *.bin)</translation>
    </message>
</context>
</TS>
