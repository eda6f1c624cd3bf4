<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>MainForm</name>
    <message>
        <source>本机IP地址：</source>
        <translation>Local IP address: </translation>
    </message>
    <message>
        <source>    端口号：</source>
        <translation>    Port:</translation>
    </message>
    <message>
        <source>Tarvik网络配置工具</source>
        <translation>Tarvik network configuration tool</translation>
    </message>
    <message>
        <source>扫描设备</source>
        <translation>Scan devices</translation>
    </message>
    <message>
        <source>提示信息</source>
        <translation>Messages</translation>
    </message>
    <message>
        <source>默认值</source>
        <translation>Defaults</translation>
    </message>
    <message>
        <source>设  置</source>
        <translation>Set</translation>
    </message>
    <message>
        <source>运  行</source>
        <translation>Run</translation>
    </message>
    <message>
        <source>运行当前选择的模块</source>
        <translation>Run the selected module</translation>
    </message>
    <message>
        <source>退  出</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>确认退出配置系统！</source>
        <translation>Exit the configuration tool?</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>通用参数</source>
        <translation>General</translation>
    </message>
    <message>
        <source>串行接口参数</source>
        <translation>Serial port</translation>
    </message>
    <message>
        <source>串行通道</source>
        <translation>Serial channel</translation>
    </message>
    <message>
        <source>网络通道参数1</source>
        <translation>Network channels 1</translation>
    </message>
    <message>
        <source>网络通道A</source>
        <translation>Network channels A</translation>
    </message>
    <message>
        <source>网络通道参数2</source>
        <translation>Network channels 2</translation>
    </message>
    <message>
        <source>网络通道B</source>
        <translation>Network channels B</translation>
    </message>
    <message>
        <source>数据包分割方式</source>
        <translation>Packet splitting</translation>
    </message>
    <message>
        <source>网络通道1</source>
        <translation>Network channel 1</translation>
    </message>
    <message>
        <source>网络通道2</source>
        <translation>Network channel 2</translation>
    </message>
    <message>
        <source>网络通道3</source>
        <translation>Network channel 3</translation>
    </message>
    <message>
        <source>网络通道4</source>
        <translation>Network channel 4</translation>
    </message>
    <message>
        <source>设备列表</source>
        <translation>Device list</translation>
    </message>
    <message>
        <source>导出参数…</source>
        <translation>Export parameters…</translation>
    </message>
    <message>
        <source>导入参数…</source>
        <translation>Import parameters…</translation>
    </message>
    <message>
        <source>参数文件 (*.json)</source>
        <translation>Parameter files (*.json)</translation>
    </message>
    <message>
        <source>参数已导出到文件：</source>
        <translation>Parameters exported to the file: </translation>
    </message>
    <message>
        <source>参数导出不成功：</source>
        <translation>Exporting the parameters failed: </translation>
    </message>
    <message>
        <source>参数文件未导入，参数保持不变：</source>
        <translation>The parameter file was not imported; the fields are unchanged: </translation>
    </message>
    <message>
        <source>没有可以广播的网卡：扫描经由系统的路由发出。</source>
        <translation>No network card can broadcast: the scan goes out by the system&apos;s routes.</translation>
    </message>
    <message>
        <source>扫描设备所经的网卡：</source>
        <translation>Network cards the scan goes out on:</translation>
    </message>
    <message>
        <source>参数未导出，这些参数为空或无效：</source>
        <translation>The parameters were not exported; these fields are empty or not valid: </translation>
    </message>
    <message>
        <source>已从文件导入参数，请按“设  置”写入设备%1（选择设备会重新读取，替换这些值）：</source>
        <translation>Parameters imported from the file; press Set to write them to device%1 (picking a device reads it again and replaces them): </translation>
    </message>
    <message>
        <source>导出参数不可用：</source>
        <translation>Export is not available: </translation>
    </message>
    <message>
        <source>导入参数不可用：</source>
        <translation>Import is not available: </translation>
    </message>
    <message>
        <source>设备操作正在进行，请等它结束。</source>
        <translation>An operation on a device is in progress; wait until it ends.</translation>
    </message>
    <message>
        <source>没有选择设备，请先选择设备。</source>
        <translation>No device is selected; select a device first.</translation>
    </message>
    <message>
        <source>所选设备的参数尚未完整读取，请先读取该设备。</source>
        <translation>The parameters of the selected device have not been read completely; read it first.</translation>
    </message>
    <message>
        <source>“设  置”不可用，请先完整读取所选设备。</source>
        <translation>Set is not available; read the selected device completely first.</translation>
    </message>
</context>
<context>
    <name>Message</name>
    <message>
        <source>请注意下面提示的本机IP地址和端口号值。</source>
        <translation>Note the local IP address and port shown below.</translation>
    </message>
    <message>
        <source>在使用本工具扫描设备之前，请确保所有的设备都在同一个物理局域网内，没有经过路由器隔离。</source>
        <translation>Before scanning, make sure all devices are on the same physical LAN, not separated by a router.</translation>
    </message>
    <message>
        <source>请先扫描网络中的设备，然后读取指定设备的参数，并可对每一个设备的参数进行修改。</source>
        <translation>First scan the network, then read the parameters of a device; each device&apos;s parameters can then be changed.</translation>
    </message>
    <message>
        <source>扫描设备的过程可能需要几秒钟的时间。</source>
        <translation>Scanning may take a few seconds.</translation>
    </message>
    <message>
        <source>计算机正在扫描网络中的设备... ...</source>
        <translation>Scanning the network for devices... ...</translation>
    </message>
    <message>
        <source>本计算机与设备的IP地址可以不在同一个网段，但本计算机与设备必须在由交换机或路由器支持的同一个物理局域网内，不能被路由器隔离。</source>
        <translation>This computer and the devices may be in different IP subnets, but they must be on one physical LAN served by a switch or router, not separated by a router.</translation>
    </message>
    <message>
        <source>检测到</source>
        <translation>Detected</translation>
    </message>
    <message>
        <source>个设备。</source>
        <translation> device(s).</translation>
    </message>
    <message>
        <source>未检查到网络中的设备！</source>
        <translation>No device found on the network!</translation>
    </message>
    <message>
        <source>设备与计算机必须是在同一个交换机或路由器所支持的局域网内，不能经过路由器隔离。请检查网络连接，重新操作！</source>
        <translation>Devices and computer must be on one LAN served by a switch or router, not separated by a router. Check the network connection and try again!</translation>
    </message>
    <message>
        <source>设备列表已满（最多254个设备），其余设备未能列出。</source>
        <translation>The device list is full (254 devices at most); further devices are not listed.</translation>
    </message>
    <message>
        <source>读取设备</source>
        <translation>Reading device</translation>
    </message>
    <message>
        <source>参数... ...</source>
        <translation>: parameters... ...</translation>
    </message>
    <message>
        <source>数据成功！</source>
        <translation>: succeeded!</translation>
    </message>
    <message>
        <source>参数不成功！</source>
        <translation>: failed!</translation>
    </message>
    <message>
        <source>请检查计算机与设备之间的网络连接，重新操作！</source>
        <translation>Check the network connection between the computer and the device and try again!</translation>
    </message>
    <message>
        <source>设置设备</source>
        <translation>Setting device</translation>
    </message>
    <message>
        <source>的参数... ...</source>
        <translation>: parameters... ...</translation>
    </message>
    <message>
        <source>数据成功，请重新读取设备参数以检查参数的设置是否正确。</source>
        <translation>: succeeded. Read the device&apos;s parameters again to check that they were set correctly.</translation>
    </message>
    <message>
        <source>数据不成功！</source>
        <translation>: refused!</translation>
    </message>
    <message>
        <source>请检查计算机与设备之间的网络连接。</source>
        <translation>Check the network connection between the computer and the device.</translation>
    </message>
    <message>
        <source>恢复设备</source>
        <translation>Restoring the defaults of device</translation>
    </message>
    <message>
        <source>默认参数... ...</source>
        <translation>... ...</translation>
    </message>
    <message>
        <source>默认参数成功，请重新读取设备参数！</source>
        <translation>: succeeded. Read the device&apos;s parameters again!</translation>
    </message>
    <message>
        <source>默认参数值请参考相关的用户手册。</source>
        <translation>For the default values see the user manual.</translation>
    </message>
    <message>
        <source>默认参数不成功！</source>
        <translation>: failed!</translation>
    </message>
    <message>
        <source>默认参数不成功，请重新操作！</source>
        <translation>: failed, try again!</translation>
    </message>
    <message>
        <source>对设备</source>
        <translation>Reset and run of device</translation>
    </message>
    <message>
        <source>的复位运行成功。</source>
        <translation>: succeeded.</translation>
    </message>
    <message>
        <source>的复位运行不成功。</source>
        <translation>: failed.</translation>
    </message>
    <message>
        <source>没有选择设备！</source>
        <translation>No device selected!</translation>
    </message>
    <message>
        <source>扫描广播未能从本计算机发出：</source>
        <translation>The scan broadcast could not leave this computer: </translation>
    </message>
    <message>
        <source>无法使用本机UDP端口%1，收不到设备的回复：</source>
        <translation>Cannot use local UDP port %1, so no device reply can arrive: </translation>
    </message>
    <message>
        <source>以太网工作模式读取错误！</source>
        <translation>Error reading the Ethernet working mode!</translation>
    </message>
    <message>
        <source>显示模式读取错误！</source>
        <translation>Error reading the display mode!</translation>
    </message>
    <message>
        <source>读取通道1串口波特率错误！</source>
        <translation>Error reading the serial baud rate!</translation>
    </message>
    <message>
        <source>读取通道1串口通信数据流控制错误！</source>
        <translation>Error reading the serial flow control!</translation>
    </message>
    <message>
        <source>读取通道1串口通信数据位长度错误！</source>
        <translation>Error reading the serial data bits!</translation>
    </message>
    <message>
        <source>读取通道1串口通信数据校验方式错误！</source>
        <translation>Error reading the serial parity!</translation>
    </message>
    <message>
        <source>读取通道1串口通信数据停止位错误！</source>
        <translation>Error reading the serial stop bits!</translation>
    </message>
    <message>
        <source>读取通道1端口工作模式错误！</source>
        <translation>Error reading the port mode of network channel 1!</translation>
    </message>
    <message>
        <source>读取通道2端口工作模式错误！</source>
        <translation>Error reading the port mode of network channel 2!</translation>
    </message>
    <message>
        <source>读取通道3端口工作模式错误！</source>
        <translation>Error reading the port mode of network channel 3!</translation>
    </message>
    <message>
        <source>读取通道4端口工作模式错误！</source>
        <translation>Error reading the port mode of network channel 4!</translation>
    </message>
</context>
<context>
    <name>Parameter</name>
    <message>
        <source>自动握手</source>
        <translation>Auto-negotiation</translation>
    </message>
    <message>
        <source>100M全双工自动握手</source>
        <translation>100M full duplex, auto-negotiated</translation>
    </message>
    <message>
        <source>100M全双工手动握手</source>
        <translation>100M full duplex, fixed</translation>
    </message>
    <message>
        <source>100M半双工手动握手</source>
        <translation>100M half duplex, fixed</translation>
    </message>
    <message>
        <source>10M全双工手动握手</source>
        <translation>10M full duplex, fixed</translation>
    </message>
    <message>
        <source>10M半双工手动握手</source>
        <translation>10M half duplex, fixed</translation>
    </message>
    <message>
        <source>不显示</source>
        <translation>Off</translation>
    </message>
    <message>
        <source>显示</source>
        <translation>On</translation>
    </message>
    <message>
        <source>无</source>
        <translation>None</translation>
    </message>
    <message>
        <source>无校验</source>
        <translation>None</translation>
    </message>
    <message>
        <source>奇校验</source>
        <translation>Odd</translation>
    </message>
    <message>
        <source>偶校验</source>
        <translation>Even</translation>
    </message>
    <message>
        <source>端口关闭</source>
        <translation>Port closed</translation>
    </message>
    <message>
        <source>TCP服务器</source>
        <translation>TCP server</translation>
    </message>
    <message>
        <source>TCP客户端</source>
        <translation>TCP client</translation>
    </message>
    <message>
        <source>UDP模式0</source>
        <translation>UDP mode 0</translation>
    </message>
    <message>
        <source>UDP模式1</source>
        <translation>UDP mode 1</translation>
    </message>
    <message>
        <source>端口模式</source>
        <translation>Port mode</translation>
    </message>
    <message>
        <source>本机端口号</source>
        <translation>Local port</translation>
    </message>
    <message>
        <source>目的IP地址</source>
        <translation>Destination IP</translation>
    </message>
    <message>
        <source>目的端口号</source>
        <translation>Destination port</translation>
    </message>
    <message>
        <source>选择端口的工作模式</source>
        <translation>Choose the port&apos;s working mode</translation>
    </message>
    <message>
        <source>设置工作端口的端口号</source>
        <translation>Set the number of the working port</translation>
    </message>
    <message>
        <source>设置目的IP地址</source>
        <translation>Set the destination IP address</translation>
    </message>
    <message>
        <source>设置目的端口号</source>
        <translation>Set the destination port number</translation>
    </message>
    <message>
        <source>以太网模式</source>
        <translation>Ethernet mode</translation>
    </message>
    <message>
        <source>选择以太网的工作模式</source>
        <translation>Choose the Ethernet working mode</translation>
    </message>
    <message>
        <source>网关IP地址</source>
        <translation>Gateway IP</translation>
    </message>
    <message>
        <source>设置模块所在子网的网关IP地址</source>
        <translation>Set the gateway IP address of the module&apos;s subnet</translation>
    </message>
    <message>
        <source>本机IP地址</source>
        <translation>Module IP</translation>
    </message>
    <message>
        <source>设置模块的IP地址</source>
        <translation>Set the module&apos;s IP address</translation>
    </message>
    <message>
        <source>子网掩码</source>
        <translation>Subnet mask</translation>
    </message>
    <message>
        <source>设置模块所在子网的子网掩码值</source>
        <translation>Set the subnet mask of the module&apos;s subnet</translation>
    </message>
    <message>
        <source>显示控制</source>
        <translation>Display</translation>
    </message>
    <message>
        <source>波特率</source>
        <translation>Baud rate</translation>
    </message>
    <message>
        <source>选择异步通信的波特率</source>
        <translation>Choose the baud rate of the serial line</translation>
    </message>
    <message>
        <source>数据流控制</source>
        <translation>Flow control</translation>
    </message>
    <message>
        <source>选择异步通信数据流的控制方式</source>
        <translation>Choose the flow control of the serial line</translation>
    </message>
    <message>
        <source>数据位</source>
        <translation>Data bits</translation>
    </message>
    <message>
        <source>选择异步通信数据位长度，然后按“设置”键确认。一般使用8个位的字节数据</source>
        <translation>Choose the data bits, then press Set to confirm. 8-bit bytes are usual</translation>
    </message>
    <message>
        <source>时间分割</source>
        <translation>By time</translation>
    </message>
    <message>
        <source>字节分割</source>
        <translation>By bytes</translation>
    </message>
    <message>
        <source>奇偶校验位</source>
        <translation>Parity</translation>
    </message>
    <message>
        <source>选择异步通信数据的校验方式</source>
        <translation>Choose the parity of the serial line</translation>
    </message>
    <message>
        <source>停止位</source>
        <translation>Stop bits</translation>
    </message>
    <message>
        <source>选择异步通信数据的停止位的位数</source>
        <translation>Choose the number of stop bits</translation>
    </message>
</context>
</TS>
