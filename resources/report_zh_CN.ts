<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN" sourcelanguage="en_US">
<!-- The shift report page in the station's Chinese; kv20-cli report writes it in English. -->
<context>
    <name>ShiftReportPage</name>
    <message>
        <source>slot %1</source>
        <translation>插槽 %1</translation>
    </message>
    <message>
        <source>port %1</source>
        <translation>端口 %1</translation>
    </message>
    <message>
        <source>(no detail)</source>
        <translation>（无详情）</translation>
    </message>
    <message>
        <source>: yield %1, %2 points below the whole (%3): a cable, a hub or a station to look at.</source>
        <translation>：良率 %1，比整体（%3）低 %2 个百分点：请检查线缆、集线器或工位。</translation>
    </message>
    <message>
        <source> (%1) on %2</source>
        <translation>（%1）写于 %2</translation>
    </message>
    <message>
        <source>%1 different </source>
        <translation>写入了 %1 个不同的 </translation>
    </message>
    <message>
        <source> images were written: </source>
        <translation> 镜像：</translation>
    </message>
    <message>
        <source>%1 rows of the journals could not be read; they are listed under Journal files.</source>
        <translation>日志中有 %1 行无法读取，列于“日志文件”下。</translation>
    </message>
    <message>
        <source>Yield</source>
        <translation>良率</translation>
    </message>
    <message>
        <source>operation</source>
        <translation>操作</translation>
    </message>
    <message>
        <source>modules</source>
        <translation>模块</translation>
    </message>
    <message>
        <source>first pass</source>
        <translation>一次通过</translation>
    </message>
    <message>
        <source>final</source>
        <translation>最终</translation>
    </message>
    <message>
        <source>retested modules</source>
        <translation>复测模块</translation>
    </message>
    <message>
        <source>First pass: the module's first record in the range was ok; final: its last one was; for all operations, of each operation it went through. A module retested had more than one record of the same operation. Records without a module identity (the module did not answer) count as operations only: %1.</source>
        <translation>一次通过：模块在范围内的第一条记录成功；最终：其最后一条记录成功；全部操作时，按它经过的每种操作计。复测模块：同一操作有多于一条记录。没有模块身份的记录（模块未应答）只计为操作：%1 条。</translation>
    </message>
    <message>
        <source>Throughput</source>
        <translation>产能</translation>
    </message>
    <message>
        <source>No records.</source>
        <translation>没有记录。</translation>
    </message>
    <message>
        <source>%1 days</source>
        <translation>%1 天</translation>
    </message>
    <message>
        <source>day</source>
        <translation>天</translation>
    </message>
    <message>
        <source>hour</source>
        <translation>小时</translation>
    </message>
    <message>
        <source> modules an hour on average. Busiest %1: </source>
        <translation> 个模块/小时（平均）。最忙的%1：</translation>
    </message>
    <message>
        <source> (%1 modules); quietest: %2 (%3).</source>
        <translation>（%1 个模块）；最闲：%2（%3）。</translation>
    </message>
    <message>
        <source>Modules per %1 from %2 to %3 (local time as the stations wrote it); a module counts in the %1 of its first record.</source>
        <translation>从 %2 到 %3 每%1的模块数（工位记录的当地时间）；模块计入其第一条记录所在的%1。</translation>
    </message>
    <message>
        <source>Every module's last record of each operation was ok.</source>
        <translation>每个模块每种操作的最后一条记录都成功。</translation>
    </message>
    <message>
        <source>%1 modules whose last record of an operation failed%2</source>
        <translation>%1 个模块某操作的最后一条记录失败%2</translation>
    </message>
    <message>
        <source> (the first %1 by time)</source>
        <translation>（按时间的前 %1 个）</translation>
    </message>
    <message>
        <source>device number</source>
        <translation>设备编号</translation>
    </message>
    <message>
        <source>IMEI or MAC</source>
        <translation>IMEI 或 MAC</translation>
    </message>
    <message>
        <source>last record</source>
        <translation>最后记录</translation>
    </message>
    <message>
        <source>detail</source>
        <translation>详情</translation>
    </message>
    <message>
        <source>station / slot or port</source>
        <translation>工位 / 插槽或端口</translation>
    </message>
    <message>
        <source>Failures</source>
        <translation>失败</translation>
    </message>
    <message>
        <source>No failed records.</source>
        <translation>没有失败记录。</translation>
    </message>
    <message>
        <source> failed records, %1 of all.</source>
        <translation> 条失败记录，占全部的 %1。</translation>
    </message>
    <message>
        <source>no.</source>
        <translation>序号</translation>
    </message>
    <message>
        <source>records</source>
        <translation>记录</translation>
    </message>
    <message>
        <source>share</source>
        <translation>占比</translation>
    </message>
    <message>
        <source>cumulative</source>
        <translation>累计</translation>
    </message>
    <message>
        <source>%1 more details with %2 records in all (all of them in --json).</source>
        <translation>另有 %1 种详情，共 %2 条记录（全部见 --json）。</translation>
    </message>
    <message>
        <source>The chart shows the first %1 details.</source>
        <translation>图中显示前 %1 种详情。</translation>
    </message>
    <message>
        <source>▼ low</source>
        <translation>▼ 偏低</translation>
    </message>
    <message>
        <source>station</source>
        <translation>工位</translation>
    </message>
    <message>
        <source>slot / port</source>
        <translation>插槽 / 端口</translation>
    </message>
    <message>
        <source>operations</source>
        <translation>操作数</translation>
    </message>
    <message>
        <source>yield</source>
        <translation>良率</translation>
    </message>
    <message>
        <source>median ms</source>
        <translation>中位 毫秒</translation>
    </message>
    <message>
        <source>p95 ms</source>
        <translation>p95 毫秒</translation>
    </message>
    <message>
        <source>refused</source>
        <translation>已拒绝</translation>
    </message>
    <message>
        <source>Operators and work orders</source>
        <translation>操作员与工单</translation>
    </message>
    <message>
        <source>operator</source>
        <translation>操作员</translation>
    </message>
    <message>
        <source>work order</source>
        <translation>工单</translation>
    </message>
    <message>
        <source>(none)</source>
        <translation>（无）</translation>
    </message>
    <message>
        <source>an hour</source>
        <translation>每小时</translation>
    </message>
    <message>
        <source>again</source>
        <translation>再次</translation>
    </message>
    <message>
        <source>A module counts for the operator and the work order of its first record; an hour is an hour with their records. Refused: done before, not served, in no yield. Again: served again, among the records.</source>
        <translation>模块计入其第一条记录的操作员和工单；每小时按有其记录的小时计。已拒绝：此前已完成，未再处理，不计入任何良率。再次：再次处理，计入记录。</translation>
    </message>
    <message>
        <source>Recipes and images</source>
        <translation>配方与镜像</translation>
    </message>
    <message>
        <source>recipe</source>
        <translation>配方</translation>
    </message>
    <message>
        <source>image</source>
        <translation>镜像</translation>
    </message>
    <message>
        <source>first record</source>
        <translation>首条记录</translation>
    </message>
    <message>
        <source>Marked: a station whose records were made under more than one recipe or image.</source>
        <translation>标记：该工位的记录使用了不止一个配方或镜像。</translation>
    </message>
    <message>
        <source>Images</source>
        <translation>镜像</translation>
    </message>
    <message>
        <source>No image was sent.</source>
        <translation>未发送镜像。</translation>
    </message>
    <message>
        <source>file</source>
        <translation>文件</translation>
    </message>
    <message>
        <source>bytes</source>
        <translation>字节</translation>
    </message>
    <message>
        <source>ok / failed</source>
        <translation>成功 / 失败</translation>
    </message>
    <message>
        <source>written on</source>
        <translation>写入工位</translation>
    </message>
    <message>
        <source>Modules: modules written with the image (ok). More than one image for an operation is shown at the top of the page.</source>
        <translation>模块：用该镜像写入成功的模块。同一操作有多个镜像时，在页面顶部提示。</translation>
    </message>
    <message>
        <source>Journal files</source>
        <translation>日志文件</translation>
    </message>
    <message>
        <source>records in range</source>
        <translation>范围内记录</translation>
    </message>
    <message>
        <source>unreadable rows</source>
        <translation>无法读取的行</translation>
    </message>
    <message>
        <source>Rows that could not be read%1:</source>
        <translation>无法读取的行%1：</translation>
    </message>
    <message>
        <source> (the first %1 of %2)</source>
        <translation>（%2 行中的前 %1 行）</translation>
    </message>
    <message>
        <source>line</source>
        <translation>行</translation>
    </message>
    <message>
        <source>why</source>
        <translation>原因</translation>
    </message>
    <message>
        <source>no records</source>
        <translation>没有记录</translation>
    </message>
    <message>
        <source>en</source>
        <translation>zh-CN</translation>
    </message>
    <message>
        <source>Shift report </source>
        <translation>班次报告 </translation>
    </message>
    <message>
        <source>Shift report</source>
        <translation>班次报告</translation>
    </message>
    <message>
        <source>%1 · stations: %2 · journal files: %3</source>
        <translation>%1 · 工位：%2 · 日志文件：%3</translation>
    </message>
    <message>
        <source>first-pass yield</source>
        <translation>一次通过率</translation>
    </message>
    <message>
        <source>final yield</source>
        <translation>最终良率</translation>
    </message>
    <message>
        <source>modules retested</source>
        <translation>复测模块</translation>
    </message>
    <message>
        <source>modules an hour</source>
        <translation>模块/小时</translation>
    </message>
    <message>
        <source>failed records</source>
        <translation>失败记录</translation>
    </message>
    <message>
        <source>Operations: </source>
        <translation>操作：</translation>
    </message>
    <message>
        <source>Stations and slots</source>
        <translation>工位与插槽</translation>
    </message>
    <message>
        <source>Yield here is the share of operations that ended ok; the whole's is %1. A station or slot or port more than %2 points below it is marked.</source>
        <translation>此处良率为成功结束的操作所占比例；整体为 %1。比整体低 %2 个百分点以上的工位、插槽或端口会被标记。</translation>
    </message>
    <message>
        <source>kv20-cli report, %1.</source>
        <translation>kv20-cli report，%1。</translation>
    </message>
    <message>
        <source>%1%2: %3 modules, %4 operations</source>
        <translation>%1%2：%3 个模块，%4 次操作</translation>
    </message>
    <message>
        <source>Failures by detail, most first</source>
        <translation>按详情的失败（多者在前）</translation>
    </message>
    <message>
        <source>Modules by date</source>
        <translation>按日期的模块数</translation>
    </message>
    <message>
        <source>Modules per hour</source>
        <translation>每小时模块数</translation>
    </message>
    <message>
        <source>Labels</source>
        <translation>标签</translation>
    </message>
    <message>
        <source>Every one of the %1 passes with a label due had it printed.</source>
        <translation>应打标签的 %1 个合格记录的标签均已打印。</translation>
    </message>
    <message>
        <source>given up: %1</source>
        <translation>已放弃：%1</translation>
    </message>
    <message>
        <source>waiting</source>
        <translation>等待打印</translation>
    </message>
    <message>
        <source>%1 of %2 passes whose label never printed%3</source>
        <translation>%2 个合格记录中有 %1 个标签从未打印%3</translation>
    </message>
    <message>
        <source>pass</source>
        <translation>合格时间</translation>
    </message>
    <message>
        <source>label</source>
        <translation>标签</translation>
    </message>
</context>
</TS>
