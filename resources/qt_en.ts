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
    <message>
        <source>云音箱音频替换及固件升级工具 V1.15 </source>
        <translation>Cloud speaker audio replacement and firmware upgrade tool V1.15 </translation>
    </message>
    <message>
        <source>串口打开失败</source>
        <translation>Serial port could not be opened</translation>
    </message>
    <message>
        <source>IMEI号：</source>
        <translation>IMEI:</translation>
    </message>
    <message>
        <source>ICCID号：</source>
        <translation>ICCID:</translation>
    </message>
    <message>
        <source>设备信息获取成功</source>
        <translation>Device information read</translation>
    </message>
    <message>
        <source>设备信息获取失败</source>
        <translation>Device information could not be read</translation>
    </message>
</context>
<context>
    <name>MPThread</name>
    <message>
        <source>下载失败</source>
        <translation>Download failed</translation>
    </message>
</context>
<context>
    <name>ModuleStatus</name>
    <message>
        <source>设备信息读取中</source>
        <translation>Reading device information</translation>
    </message>
    <message>
        <source>未发现软件</source>
        <translation>Image file not found</translation>
    </message>
    <message>
        <source>音频文件下载中</source>
        <translation>Downloading the audio file</translation>
    </message>
    <message>
        <source>设备固件下载中</source>
        <translation>Downloading the device firmware</translation>
    </message>
    <message>
        <source>传输错误</source>
        <translation>Transfer error</translation>
    </message>
    <message>
        <source>下载成功</source>
        <translation>Download succeeded</translation>
    </message>
</context>
<context>
    <name>Recipe</name>
    <message>
        <source>无法读取配方文件 %1</source>
        <translation>Cannot read the recipe file %1</translation>
    </message>
    <message>
        <source>配方 %1：缺少 [%2] %3</source>
        <translation>Recipe %1: [%2] %3 is missing</translation>
    </message>
    <message>
        <source>配方 %1：缺少 [recipe] image_sha256（image_sha256=%2）</source>
        <translation>Recipe %1: [recipe] image_sha256 is missing (image_sha256=%2)</translation>
    </message>
    <message>
        <source>配方 %1：[database] url 不是 PostgreSQL 连接 URI（postgresql://USER@HOST:PORT/DATABASE）</source>
        <translation>Recipe %1: [database] url is not a PostgreSQL connection URI (postgresql://USER@HOST:PORT/DATABASE)</translation>
    </message>
    <message>
        <source>配方 %1：[recipe] %2=%3 无效</source>
        <translation>Recipe %1: [recipe] %2=%3 is not valid</translation>
    </message>
    <message>
        <source>配方 %1：镜像 %2 无法读取（%3）</source>
        <translation>Recipe %1: the image %2 cannot be read (%3)</translation>
    </message>
    <message>
        <source>配方 %1：镜像 %2 的 SHA-256 是 %3，不是 [recipe] image_sha256 的 %4</source>
        <translation>Recipe %1: the image %2 has SHA-256 %3, not %4 as [recipe] image_sha256 says</translation>
    </message>
    <message>
        <source>配方 %1：[label] %2=%3 无效</source>
        <translation>Recipe %1: [label] %2=%3 is not valid</translation>
    </message>
    <message>
        <source>配方 %1：[label] line=%2：没有字段 {%3}（可用：%4）</source>
        <translation>Recipe %1: [label] line=%2: there is no field {%3} (there are: %4)</translation>
    </message>
    <message>
        <source>配方 %1：[label] height_mm=%2 放不下二维码（%3 dpi 时至少 %4 mm）</source>
        <translation>Recipe %1: [label] height_mm=%2 leaves no room for the QR code (at %3 dpi at least %4 mm)</translation>
    </message>
</context>
<context>
    <name>SlotTile</name>
    <message>
        <source>等待</source>
        <translation>WAITING</translation>
    </message>
    <message>
        <source>识别中</source>
        <translation>IDENTIFYING</translation>
    </message>
    <message>
        <source>下载 %1%</source>
        <translation>SENDING %1%</translation>
    </message>
    <message>
        <source>%1 秒</source>
        <translation>%1 s</translation>
    </message>
    <message>
        <source>已完成</source>
        <translation>ALREADY DONE</translation>
    </message>
    <message>
        <source>通过</source>
        <translation>PASS</translation>
    </message>
    <message>
        <source>失败</source>
        <translation>FAIL</translation>
    </message>
    <message>
        <source>端口打不开</source>
        <translation>port did not open</translation>
    </message>
    <message>
        <source>无应答</source>
        <translation>no reply</translation>
    </message>
    <message>
        <source>找不到镜像</source>
        <translation>image not found</translation>
    </message>
    <message>
        <source>镜像过大</source>
        <translation>image too large</translation>
    </message>
    <message>
        <source>镜像已改变</source>
        <translation>image changed</translation>
    </message>
    <message>
        <source>无确认</source>
        <translation>not acknowledged</translation>
    </message>
    <message>
        <source>已中止</source>
        <translation>interrupted</translation>
    </message>
    <message>
        <source>已拔出</source>
        <translation>unplugged</translation>
    </message>
    <message>
        <source>已做过</source>
        <translation>already done</translation>
    </message>
    <message>
        <source>（未问其他工位）</source>
        <translation>(other stations not asked)</translation>
    </message>
    <message>
        <source>再次</source>
        <translation>AGAIN</translation>
    </message>
    <message>
        <source>传输错误 %1</source>
        <translation>transfer error %1</translation>
    </message>
</context>
<context>
    <name>StationWindow</name>
    <message>
        <source>请先登录</source>
        <translation>SIGN IN FIRST</translation>
    </message>
    <message>
        <source>KV20 工位</source>
        <translation>KV20 Station</translation>
    </message>
    <message>
        <source>设备查询</source>
        <translation>Device query</translation>
    </message>
    <message>
        <source>音频更换</source>
        <translation>Audio replacement</translation>
    </message>
    <message>
        <source>固件升级</source>
        <translation>Firmware upgrade</translation>
    </message>
    <message>
        <source>操作：%1</source>
        <translation>Operation: %1</translation>
    </message>
    <message>
        <source>镜像：%1  %2 字节  SHA-256 %3</source>
        <translation>Image: %1  %2 bytes  SHA-256 %3</translation>
    </message>
    <message>
        <source>配方：%1（%2）</source>
        <translation>Recipe: %1 (%2)</translation>
    </message>
    <message>
        <source>工单：%1</source>
        <translation>Work order: %1</translation>
    </message>
    <message>
        <source>班次报告</source>
        <translation>Shift report</translation>
    </message>
    <message>
        <source>记录无法写入日志 %1。最近一条记录保存在 %2</source>
        <translation>Records cannot reach the journal %1. The last one is kept in %2</translation>
    </message>
    <message>
        <source>以下记录未能写入日志 %1，也未能写入任何文件。请复制并保存：</source>
        <translation>These records reached neither the journal %1 nor any other file. Copy them and keep them:</translation>
    </message>
    <message>
        <source>数据库：%1 条记录等待上传</source>
        <translation>Database: %1 records waiting</translation>
    </message>
    <message>
        <source>%1 行无法读取，未上传（%2）</source>
        <translation>%1 rows cannot be read and are not uploaded (%2)</translation>
    </message>
    <message>
        <source>通过 %1    失败 %2    已完成 %3    最近一小时 %4</source>
        <translation>OK %1    FAILED %2    ALREADY DONE %3    LAST HOUR %4</translation>
    </message>
    <message>
        <source>再次 %1    已拒绝 %2</source>
        <translation>AGAIN %1    REFUSED %2</translation>
    </message>
    <message>
        <source>距目标 %1</source>
        <translation>TO TARGET %1</translation>
    </message>
    <message>
        <source>无法生成班次报告：%1</source>
        <translation>The shift report could not be written: %1</translation>
    </message>
    <message>
        <source>仍有模组正在处理。关闭将中止这些操作（记录会保存）。确定关闭吗？</source>
        <translation>Modules are still being served. Closing cancels their operations (their records are kept). Close?</translation>
    </message>
    <message>
        <source>重打标签</source>
        <translation>Reprint label</translation>
    </message>
    <message>
        <source>重打此标签</source>
        <translation>Reprint this label</translation>
    </message>
    <message>
        <source>标签预览</source>
        <translation>Label preview</translation>
    </message>
    <message>
        <source>标签：取出时打印</source>
        <translation>LABEL: AS IT LEAVES</translation>
    </message>
    <message>
        <source>标签：等待打印</source>
        <translation>LABEL: WAITING</translation>
    </message>
    <message>
        <source>标签：已打印</source>
        <translation>LABEL: PRINTED</translation>
    </message>
    <message>
        <source>标签：已重打</source>
        <translation>LABEL: REPRINTED</translation>
    </message>
    <message>
        <source>缺纸</source>
        <translation>paper out</translation>
    </message>
    <message>
        <source>打印头打开</source>
        <translation>head open</translation>
    </message>
    <message>
        <source>已暂停</source>
        <translation>paused</translation>
    </message>
    <message>
        <source>无应答</source>
        <translation>no answer</translation>
    </message>
    <message>
        <source>无法打印</source>
        <translation>cannot print</translation>
    </message>
    <message>
        <source>标签打印机 %1：%2（%3）。%4 张标签等待打印，打印机恢复后打印。</source>
        <translation>Label printer %1: %2 (%3). %4 labels wait, to print when the printer is back.</translation>
    </message>
</context>
<context>
    <name>SignInBar</name>
    <message>
        <source>扫描或输入工号，按回车登录</source>
        <translation>Scan or type your id, then Enter</translation>
    </message>
    <message>
        <source>退出登录</source>
        <translation>Sign out</translation>
    </message>
    <message>
        <source>工号 %1 未登记，不能登录</source>
        <translation>Id %1 is not listed: not signed in</translation>
    </message>
    <message>
        <source>操作员：%1</source>
        <translation>Operator: %1</translation>
    </message>
    <message>
        <source>操作员：%1（%2）</source>
        <translation>Operator: %1 (%2)</translation>
    </message>
    <message>
        <source>操作员：%1  退出中：等待正在进行的模块</source>
        <translation>Operator: %1  signing out: waiting for the module being served</translation>
    </message>
    <message>
        <source>未登录：请扫描工牌</source>
        <translation>Nobody signed in: scan your badge</translation>
    </message>
</context>
</TS>
