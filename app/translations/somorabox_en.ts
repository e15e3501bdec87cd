<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>ShowMessage</name>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>TForm1</name>
    <message>
        <source>未在录音：输入设备不可用，每 2 秒重试</source>
        <translation>Not recording: no input, retrying every 2 s</translation>
    </message>
    <message>
        <source>未在录音：磁盘已满</source>
        <translation>Not recording: disk full</translation>
    </message>
    <message>
        <source>未在录音：无法写入录音文件夹</source>
        <translation>Not recording: folder not writable</translation>
    </message>
    <message>
        <source>录音中断：磁盘太慢</source>
        <translation>Recording cut short: disk too slow</translation>
    </message>
    <message>
        <source>归档被拒绝：%1（录音保留在本机）</source>
        <translation>Archive refused: %1 (the takes stay on this machine)</translation>
    </message>
    <message>
        <source>归档前缀与另一台机器共用：%1</source>
        <translation>archive prefix shared with another machine: %1</translation>
    </message>
    <message>
        <source>归档存储桶 %1 没有对象锁定：保留只在本机有效</source>
        <translation>the archive bucket %1 has no Object Lock: holds are kept here only</translation>
    </message>
    <message>
        <source>正在监听</source>
        <translation>Listening</translation>
    </message>
    <message>
        <source>现在是声控录音模式, 只要你唱, 系统将会自动录音。</source>
        <translation>Voice-activated mode: just sing, and the recorder records by itself.</translation>
    </message>
    <message>
        <source>关闭本系统</source>
        <translation>Close the recorder</translation>
    </message>
    <message>
        <source>向前滚动录音文件窗口</source>
        <translation>Scroll back through the recordings</translation>
    </message>
    <message>
        <source>向后滚动录音文件窗口</source>
        <translation>Scroll on through the recordings</translation>
    </message>
    <message>
        <source>工作参数设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>播放选中的录音</source>
        <translation>Play the selected recording</translation>
    </message>
    <message>
        <source>在手动录音模式下,开始录音</source>
        <translation>Start recording (manual mode)</translation>
    </message>
    <message>
        <source>删除选中的录音</source>
        <translation>Delete the selected recording</translation>
    </message>
    <message>
        <source>停止播放</source>
        <translation>Stop playback</translation>
    </message>
    <message>
        <source>停止录音</source>
        <translation>Stop recording</translation>
    </message>
    <message>
        <source>上一首</source>
        <translation>Previous</translation>
    </message>
    <message>
        <source>下一首</source>
        <translation>Next</translation>
    </message>
    <message>
        <source>切换录音模式(声控录音/手动录音)</source>
        <translation>Switch mode (voice-activated/manual)</translation>
    </message>
    <message>
        <source>外观模式</source>
        <translation>Mini panel</translation>
    </message>
    <message>
        <source>帮助</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>浏览历史录音</source>
        <translation>Browse past recordings</translation>
    </message>
    <message>
        <source>播放音量</source>
        <translation>Playback volume</translation>
    </message>
    <message>
        <source>录音音量</source>
        <translation>Recording volume</translation>
    </message>
    <message>
        <source>周一</source>
        <translation>Mon</translation>
    </message>
    <message>
        <source>周二</source>
        <translation>Tue</translation>
    </message>
    <message>
        <source>周三</source>
        <translation>Wed</translation>
    </message>
    <message>
        <source>周四</source>
        <translation>Thu</translation>
    </message>
    <message>
        <source>周五</source>
        <translation>Fri</translation>
    </message>
    <message>
        <source>周六</source>
        <translation>Sat</translation>
    </message>
    <message>
        <source>周日</source>
        <translation>Sun</translation>
    </message>
    <message>
        <source>未在录音：录音时段外，下次 %1</source>
        <translation>Not recording: outside the recording hours, next %1</translation>
    </message>
    <message>
        <source>无声：自 %1 起没有声音</source>
        <translation>Silent since %1</translation>
    </message>
    <message>
        <source>削波：输入电平过高</source>
        <translation>Clipping: the input level is too high</translation>
    </message>
    <message>
        <source>录音时段设置无效，一直录音：%1</source>
        <translation>Recording hours not understood, recording always: %1</translation>
    </message>
    <message>
        <source>（录音时段至 %1）</source>
        <translation> (recording hours until %1)</translation>
    </message>
</context>
<context>
    <name>TForm3</name>
    <message>
        <source>Somora录音系统设置</source>
        <translation>Somora Recorder Settings</translation>
    </message>
    <message>
        <source>采样频率</source>
        <translation>Rate (Hz)</translation>
    </message>
    <message>
        <source>录音通道</source>
        <translation>Input</translation>
    </message>
    <message>
        <source>播放时暂停录音</source>
        <translation>Pause while playing</translation>
    </message>
    <message>
        <source>声控系统灵敏度</source>
        <translation>Sensitivity</translation>
    </message>
    <message>
        <source>高</source>
        <translation>High</translation>
    </message>
    <message>
        <source>中</source>
        <translation>Mid</translation>
    </message>
    <message>
        <source>低</source>
        <translation>Low</translation>
    </message>
    <message>
        <source>启用自动增益控制以防止声音失真</source>
        <translation>Automatic gain control</translation>
    </message>
    <message>
        <source>登录时自动启动录音系统</source>
        <translation>Start at login</translation>
    </message>
    <message>
        <source>录音文件管理</source>
        <translation>Recordings</translation>
    </message>
    <message>
        <source>仅保留最近24小时录音</source>
        <translation>Keep last 24 hours</translation>
    </message>
    <message>
        <source>不管理历史录音</source>
        <translation>Keep all</translation>
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
        <source>设为默认值</source>
        <translation>Set default</translation>
    </message>
    <message>
        <source>自动选择</source>
        <translation>Automatic</translation>
    </message>
</context>
<context>
    <name>TForm5</name>
    <message>
        <source>密码不正确，请重新输入！</source>
        <translation>Wrong password. Please try again.</translation>
    </message>
    <message>
        <source>二次输入的密码不相同，请重新输入！</source>
        <translation>The two entries differ. Please try again.</translation>
    </message>
    <message>
        <source>权限管理</source>
        <translation>Administrator</translation>
    </message>
    <message>
        <source>请输入管理员密码：</source>
        <translation>Admin password:</translation>
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
        <source>修改密码</source>
        <translation>Change</translation>
    </message>
    <message>
        <source>修改密码：</source>
        <translation>Change password:</translation>
    </message>
    <message>
        <source>新密码：</source>
        <translation>Password:</translation>
    </message>
    <message>
        <source>再输入一次：</source>
        <translation>Once more:</translation>
    </message>
    <message>
        <source>确认修改</source>
        <translation>Confirm</translation>
    </message>
</context>
</TS>
