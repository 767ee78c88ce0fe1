<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>H264Video</name>
    <message>
        <source>Error</source>
        <translation>错误</translation>
    </message>
    <message>
        <source>KM connect error.</source>
        <translation>键盘鼠标连接出错。</translation>
    </message>
    <message>
        <source>Ctrl+Alt+Shift+F12 lets the keyboard go and leaves full screen</source>
        <translation>Ctrl+Alt+Shift+F12 释放键盘并退出全屏</translation>
    </message>
    <message>
        <source>Grab Keyboard</source>
        <translation>抓取键盘</translation>
    </message>
    <message>
        <source>Grab Keyboard: Alt+Tab, Alt+F4 and the Super key go to the remote computer (always in full screen). %1.</source>
        <translation>抓取键盘：Alt+Tab、Alt+F4 和 Super 键发送到远程计算机（全屏时总是如此）。%1。</translation>
    </message>
    <message>
        <source>Paste Text</source>
        <translation>粘贴文本</translation>
    </message>
    <message>
        <source>Keyboard: by key position</source>
        <translation>键盘：按键位</translation>
    </message>
    <message>
        <source>Keyboard: by character</source>
        <translation>键盘：按字符</translation>
    </message>
    <message>
        <source>Remote Layout: %1...</source>
        <translation>远程键盘布局：%1...</translation>
    </message>
    <message>
        <source>Save Screenshot</source>
        <translation>保存截图</translation>
    </message>
    <message>
        <source>Set Key(&amp;S)...</source>
        <translation>设置按键(&amp;S)...</translation>
    </message>
    <message>
        <source>The remote layout &quot;%1&quot; is not known to XKB; choose another in the key menu.</source>
        <translation>XKB 不认识远程键盘布局“%1”；请在按键菜单中另选一个。</translation>
    </message>
    <message>
        <source>Type %1 characters on the remote computer?</source>
        <translation type="vanished">要在远程计算机上输入 %1 个字符吗？</translation>
    </message>
    <message>
        <source>Typing the text on the remote computer (Esc cancels)...</source>
        <translation>正在远程计算机上输入文本（按 Esc 取消）...</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>1 character skipped</source>
        <translation type="vanished">跳过了 1 个字符</translation>
    </message>
    <message>
        <source>%1 characters skipped</source>
        <translation type="vanished">跳过了 %1 个字符</translation>
    </message>
    <message>
        <source>Paste Text: %1</source>
        <translation type="vanished">粘贴文本：%1</translation>
    </message>
    <message>
        <source>%1: the remote layout &quot;%2&quot; has no key for them.</source>
        <translation type="vanished">%1：远程键盘布局“%2”中没有对应的按键。</translation>
    </message>
    <message>
        <source>Remote Layout</source>
        <translation>远程键盘布局</translation>
    </message>
    <message>
        <source>Keyboard layout of the remote computer, as XKB names it
(us, de, fr, gb, de(nodeadkeys), ...), used for pasted text:</source>
        <translation>远程计算机的键盘布局（XKB 名称，
如 us、de、fr、gb、de(nodeadkeys) 等），用于粘贴文本：</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not a layout XKB knows.</source>
        <translation>XKB 不认识布局“%1”。</translation>
    </message>
    <message>
        <source>do you want to giveUp privWrite</source>
        <translation>是否放弃控制权？</translation>
    </message>
    <message>
        <source>Recording failed: %1.</source>
        <translation>录像失败：%1。</translation>
    </message>
    <message>
        <source>Recording to %1</source>
        <translation>正在录像到 %1</translation>
    </message>
    <message>
        <source>Recording stopped.</source>
        <translation>录像已停止。</translation>
    </message>
    <message>
        <source>Recording failed: %1 (%2)</source>
        <translation>录像失败：%1（%2）</translation>
    </message>
    <message>
        <source>Recording to %1 (from the next key frame)</source>
        <translation>正在录像到 %1（从下一个关键帧开始）</translation>
    </message>
    <message>
        <source>Nothing was recorded: no key frame arrived.</source>
        <translation>未录下任何内容：没有收到关键帧。</translation>
    </message>
    <message>
        <source>Saved: %1</source>
        <translation>已保存：%1</translation>
    </message>
    <message>
        <source>Screenshot failed: no picture yet.</source>
        <translation>截图失败：尚无画面。</translation>
    </message>
    <message>
        <source>Screenshot failed: no pictures directory.</source>
        <translation>截图失败：没有图片目录。</translation>
    </message>
    <message>
        <source>Screenshot failed: cannot write %1</source>
        <translation>截图失败：无法写入 %1</translation>
    </message>
    <message>
        <source>Screenshot saved: %1</source>
        <translation>截图已保存：%1</translation>
    </message>
    <message>
        <source>Remote picture  %1×%2</source>
        <translation>远程画面  %1×%2</translation>
    </message>
    <message>
        <source>Pictures/s      received %1, shown %2</source>
        <translation>帧/秒     接收 %1，显示 %2</translation>
    </message>
    <message>
        <source>Video           %1 Mbit/s</source>
        <translation>视频      %1 Mbit/s</translation>
    </message>
    <message>
        <source>Decode (median) %1, last byte → shown %2</source>
        <translation>解码(中位数) %1，末字节 → 显示 %2</translation>
    </message>
    <message>
        <source>KM answer       %1</source>
        <translation>键鼠应答  %1</translation>
    </message>
    <message>
        <source>Channels        KM %1, video %2, media %3</source>
        <translation>通道      键鼠 %1，视频 %2，媒体 %3</translation>
    </message>
    <message>
        <source>Media           %1%2</source>
        <translation>媒体      %1%2</translation>
    </message>
    <message>
        <source> (read-only)</source>
        <translation>（只读）</translation>
    </message>
    <message>
        <source>                %1 MB/s, %2 sectors read, %3 written, %4 local write failures</source>
        <translation>          %1 MB/s，已读 %2 扇区，已写 %3 扇区，本地写入失败 %4 次</translation>
    </message>
    <message>
        <source>Media           not mapped</source>
        <translation>媒体      未映射</translation>
    </message>
    <message>
        <source>Virtual media: the device has not read or acknowledged anything for 10 s (stalled).</source>
        <translation>虚拟媒体：设备已 10 秒没有读取或确认任何数据（停滞）。</translation>
    </message>
    <message>
        <source>Virtual media: %1 local write failure(s)%2</source>
        <translation>虚拟媒体：本地写入失败 %1 次%2</translation>
    </message>
    <message>
        <source>, first: %1</source>
        <translation>，首次：%1</translation>
    </message>
    <message>
        <source>Video connect error.</source>
        <translation>视频连接出错。</translation>
    </message>
    <message>
        <source>The remote picture is %1×%2: larger than the viewer can show (8192×4320 at most).</source>
        <translation>远程画面为 %1×%2：超出本程序可显示的大小（最大 8192×4320）。</translation>
    </message>
    <message>
        <source>%1 channel connected again</source>
        <translation type="vanished">%1 通道已重新连接</translation>
    </message>
    <message>
        <source>Recording stopped: the video channel was lost.</source>
        <translation type="vanished">录像已停止：视频通道已断开。</translation>
    </message>
    <message>
        <source>%1 channel lost (%2): reconnecting…</source>
        <translation type="vanished">%1 通道断开（%2）：正在重新连接…</translation>
    </message>
    <message>
        <source>Connection to the device lost — reconnecting…</source>
        <translation type="vanished">与设备的连接已断开——正在重新连接…</translation>
    </message>
    <message>
        <source>%1 channel, attempt %2</source>
        <translation type="vanished">%1 通道，第 %2 次尝试</translation>
    </message>
    <message>
        <source>Mouse Hide</source>
        <translation>隐藏鼠标</translation>
    </message>
    <message>
        <source>Mouse Show</source>
        <translation>显示鼠标</translation>
    </message>
    <message>
        <source>connected</source>
        <translation>已连接</translation>
    </message>
    <message>
        <source>reconnecting</source>
        <translation>正在重连</translation>
    </message>
    <message>
        <source>stalled</source>
        <translation>停滞</translation>
    </message>
    <message>
        <source>lost</source>
        <translation>已断开</translation>
    </message>
    <message>
        <source>Pointer locked to the remote computer: Ctrl+Alt+Shift+F12 sets it free</source>
        <translation>指针已锁定到远程计算机：按 Ctrl+Alt+Shift+F12 释放</translation>
    </message>
    <message>
        <source>Relative mouse mode is approximate here: the desktop cannot lock the pointer. Absolute mode follows the pointer exactly.</source>
        <translation>此处相对鼠标模式只能近似：桌面无法锁定指针。绝对模式可精确跟随指针。</translation>
    </message>
    <message>
        <source>Keyboard settings not saved: %1 cannot be read.</source>
        <translation>键盘设置未保存：无法读取 %1。</translation>
    </message>
    <message>
        <source>Lock keys of the remote computer</source>
        <translation>远程计算机的锁定键</translation>
    </message>
    <message>
        <source>Saved %1 files, the last %2</source>
        <translation>已保存 %1 个文件，最后一个为 %2</translation>
    </message>
    <message>
        <source>opening</source>
        <translation>正在登录</translation>
    </message>
    <message>
        <source>login refused</source>
        <translation>登录被拒绝</translation>
    </message>
    <message>
        <source>Full screen: Ctrl+Alt+Shift+F12 lets the keyboard go and leaves it</source>
        <translation>全屏：按 Ctrl+Alt+Shift+F12 释放键盘并退出全屏</translation>
    </message>
    <message>
        <source>Paste Text: not typed</source>
        <translation>粘贴文本：未输入</translation>
    </message>
    <message>
        <source>The text was not typed: %1.</source>
        <translation>文本未输入：%1。</translation>
    </message>
    <message>
        <source>and %1 more</source>
        <translation>另有 %1 个</translation>
    </message>
    <message>
        <source>Paste Text: characters without a key</source>
        <translation>粘贴文本：没有对应按键的字符</translation>
    </message>
    <message>
        <source>The remote layout &quot;%1&quot; has no key for these characters:
%2</source>
        <translation>远程键盘布局“%1”没有以下字符的按键：
%2</translation>
    </message>
    <message>
        <source>&amp;Skip them, type the rest</source>
        <translation>跳过这些字符，输入其余部分(&amp;S)</translation>
    </message>
    <message>
        <source>Type %1 characters on the remote computer? It takes about %2 s.</source>
        <translation>在远程计算机上输入 %1 个字符？大约需要 %2 秒。</translation>
    </message>
    <message>
        <source>Paste Text: typed %1 of %2 characters</source>
        <translation>粘贴文本：已输入 %2 个字符中的 %1 个</translation>
    </message>
</context>
<context>
    <name>H264VideoClass</name>
    <message>
        <source>H264Video</source>
        <translation>H264Video</translation>
    </message>
    <message>
        <source>FullScreen</source>
        <translation>全屏</translation>
    </message>
    <message>
        <source>align</source>
        <translation>对齐</translation>
    </message>
    <message>
        <source>Align mouse</source>
        <translation>对齐鼠标</translation>
    </message>
    <message>
        <source>grab</source>
        <translation>控制权</translation>
    </message>
    <message>
        <source>Grab privilege</source>
        <translation>控制权</translation>
    </message>
    <message>
        <source>Video Config</source>
        <translation>视频设置</translation>
    </message>
    <message>
        <source>media</source>
        <translation>虚拟媒体</translation>
    </message>
    <message>
        <source>MouseHide</source>
        <translation>隐藏鼠标</translation>
    </message>
    <message>
        <source>Mouse Hide</source>
        <translation>隐藏鼠标</translation>
    </message>
    <message>
        <source>setKey</source>
        <translation>设置按键</translation>
    </message>
    <message>
        <source>Set Key</source>
        <translation>设置按键</translation>
    </message>
    <message>
        <source>OptRes</source>
        <translation>最佳分辨率</translation>
    </message>
    <message>
        <source>optimum resolution</source>
        <translation>最佳分辨率</translation>
    </message>
    <message>
        <source>Statistics</source>
        <translation>统计</translation>
    </message>
    <message>
        <source>Statistics (Ctrl+Alt+Shift+S)</source>
        <translation>统计信息 (Ctrl+Alt+Shift+S)</translation>
    </message>
    <message>
        <source>Record</source>
        <translation>录像</translation>
    </message>
    <message>
        <source>Record the video stream</source>
        <translation>录制视频流</translation>
    </message>
    <message>
        <source>Actual Size</source>
        <translation>实际大小</translation>
    </message>
    <message>
        <source>Actual Size: the picture pixel for pixel</source>
        <translation>实际大小：画面逐像素显示</translation>
    </message>
    <message>
        <source>toolBar</source>
        <translation>工具栏</translation>
    </message>
</context>
<context>
    <name>UiTexts</name>
    <message>
        <source>Video Setting</source>
        <translation>视频设置</translation>
    </message>
    <message>
        <source>Position</source>
        <translation>视频位置</translation>
    </message>
    <message>
        <source>Up</source>
        <translation>上</translation>
    </message>
    <message>
        <source>Down</source>
        <translation>下</translation>
    </message>
    <message>
        <source>Left</source>
        <translation>左</translation>
    </message>
    <message>
        <source>Right</source>
        <translation>右</translation>
    </message>
    <message>
        <source>Reset</source>
        <translation>重置</translation>
    </message>
    <message>
        <source>Mouse Sample Rate</source>
        <translation>鼠标采样率</translation>
    </message>
    <message>
        <source>Virtual Media Setting</source>
        <translation>虚拟媒体设置</translation>
    </message>
    <message>
        <source>Map Drive</source>
        <translation>映射盘符</translation>
    </message>
    <message>
        <source>Map Mode</source>
        <translation>映射模式</translation>
    </message>
    <message>
        <source>Read Only</source>
        <translation>只读</translation>
    </message>
    <message>
        <source>Map</source>
        <translation>映射</translation>
    </message>
    <message>
        <source>Unmap</source>
        <translation>结束映射</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>进度</translation>
    </message>
    <message>
        <source>Shotcut Setting</source>
        <translation>快捷键设置</translation>
    </message>
    <message>
        <source>Mapping Name</source>
        <translation>映射名称</translation>
    </message>
    <message>
        <source>Key String</source>
        <translation>按键组合</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>添加</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>清除</translation>
    </message>
    <message>
        <source>Modify</source>
        <translation>修改</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>删除</translation>
    </message>
</context>
<context>
    <name>c_connect_dlg</name>
    <message>
        <source>Connect</source>
        <translation>连接</translation>
    </message>
    <message>
        <source>Paste the launch string that the device&apos;s web page gives for this viewer
(it starts with {desEncode or %7BdesEncode), or open a file that holds it.</source>
        <translation>粘贴设备网页为本查看器提供的启动字符串
（以 {desEncode 或 %7BdesEncode 开头），或打开包含它的文件。</translation>
    </message>
    <message>
        <source>Open File…</source>
        <translation>打开文件…</translation>
    </message>
    <message>
        <source>Launch string file</source>
        <translation>启动字符串文件</translation>
    </message>
</context>
<context>
    <name>c_desktop_input</name>
    <message>
        <source>Keyboard released: the desktop&apos;s shortcuts are its own</source>
        <translation>键盘已释放：桌面快捷键由桌面处理</translation>
    </message>
    <message>
        <source>Keyboard grab asked for: waiting for the desktop to allow it</source>
        <translation>已请求独占键盘：等待桌面允许</translation>
    </message>
    <message>
        <source>Keyboard grabbed: every key goes to the remote computer</source>
        <translation>键盘已独占：所有按键都发送到远程计算机</translation>
    </message>
    <message>
        <source>Keyboard grab refused by the desktop: its shortcuts stay local</source>
        <translation>桌面拒绝独占键盘：快捷键仍由本地处理</translation>
    </message>
    <message>
        <source>This desktop cannot hand its shortcuts to the window: they stay local</source>
        <translation>此桌面无法将快捷键交给窗口：快捷键仍由本地处理</translation>
    </message>
</context>
<context>
    <name>c_session_overlay</name>
    <message>
        <source>Try again</source>
        <translation>重试</translation>
    </message>
</context>
<context>
    <name>c_session_status</name>
    <message>
        <source>%1 channel connected again</source>
        <translation>%1 通道已重新连接</translation>
    </message>
    <message>
        <source>%1 channel: %2.</source>
        <translation>%1 通道：%2。</translation>
    </message>
    <message>
        <source>%1 channel lost (%2): reconnecting…</source>
        <translation>%1 通道断开（%2）：正在重新连接…</translation>
    </message>
    <message>
        <source>The device refused the login.</source>
        <translation>设备拒绝了登录。</translation>
    </message>
    <message>
        <source>The device closes the connection right after the opening: the key or the user in the launch string may be wrong.</source>
        <translation>设备在登录后立即关闭连接：启动字符串中的密钥或用户可能有误。</translation>
    </message>
    <message>
        <source>Connection to the device lost — reconnecting…</source>
        <translation>与设备的连接已断开——正在重新连接…</translation>
    </message>
    <message>
        <source>%1 channel: %2</source>
        <translation>%1 通道：%2</translation>
    </message>
    <message>
        <source>%1 channel, attempt %2 (closed after the opening)</source>
        <translation>%1 通道，第 %2 次尝试（登录后被关闭）</translation>
    </message>
    <message>
        <source>%1 channel, attempt %2</source>
        <translation>%1 通道，第 %2 次尝试</translation>
    </message>
    <message>
        <source>%1 channel, attempt %2 (%3)</source>
        <translation>%1 通道，第 %2 次尝试（%3）</translation>
    </message>
    <message>
        <source>The device does not answer — input is delayed.</source>
        <translation>设备无应答——输入被延迟。</translation>
    </message>
</context>
<context>
    <name>c_ui_u_setting_dlg</name>
    <message>
        <source>Disk image</source>
        <translation>磁盘映像</translation>
    </message>
    <message>
        <source>Disk images (*.img *.iso *.raw *.bin);;All files (*)</source>
        <translation>磁盘映像 (*.img *.iso *.raw *.bin);;所有文件 (*)</translation>
    </message>
    <message>
        <source>提示</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>虚拟媒体服务器连接出错.</source>
        <translation>虚拟媒体服务器连接出错.</translation>
    </message>
    <message>
        <source>Disk image file...</source>
        <translation>磁盘映像文件...</translation>
    </message>
    <message>
        <source>Choose a drive or a disk image first.</source>
        <translation>请先选择驱动器或磁盘映像。</translation>
    </message>
    <message>
        <source>Map failed: %1</source>
        <translation>映射失败：%1</translation>
    </message>
    <message>
        <source>Mapped: %1 MB/s, %2 write failures</source>
        <translation>已映射：%1 MB/s，写入失败 %2 次</translation>
    </message>
    <message>
        <source>Mapped: %1 MB/s, %2 write failure</source>
        <translation>已映射：%1 MB/s，写入失败 %2 次</translation>
    </message>
    <message>
        <source> (first: %1)</source>
        <translation>（首次：%1）</translation>
    </message>
    <message>
        <source>Stalled: the device has read or acknowledged nothing for 10 s.</source>
        <translation>停滞：设备已 10 秒没有读取或确认任何数据。</translation>
    </message>
    <message>
        <source>Channel lost: reconnecting (attempt %1).</source>
        <translation>通道断开：正在重新连接（第 %1 次）。</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>critical</source>
        <translation>严重错误</translation>
    </message>
    <message>
        <source>启动串口工具失败。</source>
        <translation>启动串口工具失败。</translation>
    </message>
</context>
<context>
    <name>sysKeyConfig</name>
    <message>
        <source>sysKeyConfig</source>
        <translation>快捷键设置</translation>
    </message>
    <message>
        <source>Mapping Name:</source>
        <translation>映射名称：</translation>
    </message>
    <message>
        <source>Key String:</source>
        <translation>按键组合：</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>添加</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>清除</translation>
    </message>
    <message>
        <source>Modify</source>
        <translation>修改</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>删除</translation>
    </message>
</context>
<context>
    <name>uSetingDialog</name>
    <message>
        <source>虚拟媒体设置</source>
        <translation>虚拟媒体设置</translation>
    </message>
    <message>
        <source>映射盘符</source>
        <translation>映射盘符</translation>
    </message>
    <message>
        <source>映射模式</source>
        <translation>映射模式</translation>
    </message>
    <message>
        <source>只读</source>
        <translation>只读</translation>
    </message>
    <message>
        <source>映射</source>
        <translation>映射</translation>
    </message>
    <message>
        <source>查询</source>
        <translation>查询</translation>
    </message>
    <message>
        <source>结束映射</source>
        <translation>结束映射</translation>
    </message>
    <message>
        <source>进度：</source>
        <translation>进度：</translation>
    </message>
</context>
<context>
    <name>video_setting_dlg</name>
    <message>
        <source>视频设置</source>
        <translation>视频设置</translation>
    </message>
    <message>
        <source>视频位置:</source>
        <translation>视频位置:</translation>
    </message>
    <message>
        <source>上</source>
        <translation>上</translation>
    </message>
    <message>
        <source>下</source>
        <translation>下</translation>
    </message>
    <message>
        <source>左</source>
        <translation>左</translation>
    </message>
    <message>
        <source>右</source>
        <translation>右</translation>
    </message>
    <message>
        <source>重置</source>
        <translation>重置</translation>
    </message>
    <message>
        <source>鼠标采样率(s):</source>
        <translation>鼠标采样率(s):</translation>
    </message>
</context>
</TS>
