<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>H264Video</name>
    <message>
        <source>Error</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>KM connect error.</source>
        <translation>KM connect error.</translation>
    </message>
    <message>
        <source>Ctrl+Alt+Shift+F12 lets the keyboard go and leaves full screen</source>
        <translation>Ctrl+Alt+Shift+F12 lets the keyboard go and leaves full screen</translation>
    </message>
    <message>
        <source>Grab Keyboard</source>
        <translation>Grab Keyboard</translation>
    </message>
    <message>
        <source>Grab Keyboard: Alt+Tab, Alt+F4 and the Super key go to the remote computer (always in full screen). %1.</source>
        <translation>Grab Keyboard: Alt+Tab, Alt+F4 and the Super key go to the remote computer (always in full screen). %1.</translation>
    </message>
    <message>
        <source>Paste Text</source>
        <translation>Paste Text</translation>
    </message>
    <message>
        <source>Keyboard: by key position</source>
        <translation>Keyboard: by key position</translation>
    </message>
    <message>
        <source>Keyboard: by character</source>
        <translation>Keyboard: by character</translation>
    </message>
    <message>
        <source>Remote Layout: %1...</source>
        <translation>Remote Layout: %1...</translation>
    </message>
    <message>
        <source>Save Screenshot</source>
        <translation>Save Screenshot</translation>
    </message>
    <message>
        <source>Set Key(&amp;S)...</source>
        <translation>Set Key(&amp;S)...</translation>
    </message>
    <message>
        <source>The remote layout &quot;%1&quot; is not known to XKB; choose another in the key menu.</source>
        <translation>The remote layout &quot;%1&quot; is not known to XKB; choose another in the key menu.</translation>
    </message>
    <message>
        <source>Type %1 characters on the remote computer?</source>
        <translation type="vanished">Type %1 characters on the remote computer?</translation>
    </message>
    <message>
        <source>Typing the text on the remote computer (Esc cancels)...</source>
        <translation>Typing the text on the remote computer (Esc cancels)...</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>1 character skipped</source>
        <translation type="vanished">1 character skipped</translation>
    </message>
    <message>
        <source>%1 characters skipped</source>
        <translation type="vanished">%1 characters skipped</translation>
    </message>
    <message>
        <source>Paste Text: %1</source>
        <translation type="vanished">Paste Text: %1</translation>
    </message>
    <message>
        <source>%1: the remote layout &quot;%2&quot; has no key for them.</source>
        <translation type="vanished">%1: the remote layout &quot;%2&quot; has no key for them.</translation>
    </message>
    <message>
        <source>Remote Layout</source>
        <translation>Remote Layout</translation>
    </message>
    <message>
        <source>Keyboard layout of the remote computer, as XKB names it
(us, de, fr, gb, de(nodeadkeys), ...), used for pasted text:</source>
        <translation>Keyboard layout of the remote computer, as XKB names it
(us, de, fr, gb, de(nodeadkeys), ...), used for pasted text:</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not a layout XKB knows.</source>
        <translation>&quot;%1&quot; is not a layout XKB knows.</translation>
    </message>
    <message>
        <source>do you want to giveUp privWrite</source>
        <translation>do you want to giveUp privWrite</translation>
    </message>
    <message>
        <source>Recording failed: %1.</source>
        <translation>Recording failed: %1.</translation>
    </message>
    <message>
        <source>Recording to %1</source>
        <translation>Recording to %1</translation>
    </message>
    <message>
        <source>Recording stopped.</source>
        <translation>Recording stopped.</translation>
    </message>
    <message>
        <source>Recording failed: %1 (%2)</source>
        <translation>Recording failed: %1 (%2)</translation>
    </message>
    <message>
        <source>Recording to %1 (from the next key frame)</source>
        <translation>Recording to %1 (from the next key frame)</translation>
    </message>
    <message>
        <source>Nothing was recorded: no key frame arrived.</source>
        <translation>Nothing was recorded: no key frame arrived.</translation>
    </message>
    <message>
        <source>Saved: %1</source>
        <translation>Saved: %1</translation>
    </message>
    <message>
        <source>Screenshot failed: no picture yet.</source>
        <translation>Screenshot failed: no picture yet.</translation>
    </message>
    <message>
        <source>Screenshot failed: no pictures directory.</source>
        <translation>Screenshot failed: no pictures directory.</translation>
    </message>
    <message>
        <source>Screenshot failed: cannot write %1</source>
        <translation>Screenshot failed: cannot write %1</translation>
    </message>
    <message>
        <source>Screenshot saved: %1</source>
        <translation>Screenshot saved: %1</translation>
    </message>
    <message>
        <source>Remote picture  %1×%2</source>
        <translation>Remote picture  %1×%2</translation>
    </message>
    <message>
        <source>Pictures/s      received %1, shown %2</source>
        <translation>Pictures/s      received %1, shown %2</translation>
    </message>
    <message>
        <source>Video           %1 Mbit/s</source>
        <translation>Video           %1 Mbit/s</translation>
    </message>
    <message>
        <source>Decode (median) %1, last byte → shown %2</source>
        <translation>Decode (median) %1, last byte → shown %2</translation>
    </message>
    <message>
        <source>KM answer       %1</source>
        <translation>KM answer       %1</translation>
    </message>
    <message>
        <source>Channels        KM %1, video %2, media %3</source>
        <translation>Channels        KM %1, video %2, media %3</translation>
    </message>
    <message>
        <source>Media           %1%2</source>
        <translation>Media           %1%2</translation>
    </message>
    <message>
        <source> (read-only)</source>
        <translation> (read-only)</translation>
    </message>
    <message>
        <source>                %1 MB/s, %2 sectors read, %3 written, %4 local write failures</source>
        <translation>                %1 MB/s, %2 sectors read, %3 written, %4 local write failures</translation>
    </message>
    <message>
        <source>Media           not mapped</source>
        <translation>Media           not mapped</translation>
    </message>
    <message>
        <source>Virtual media: the device has not read or acknowledged anything for 10 s (stalled).</source>
        <translation>Virtual media: the device has not read or acknowledged anything for 10 s (stalled).</translation>
    </message>
    <message>
        <source>Virtual media: %1 local write failure(s)%2</source>
        <translation>Virtual media: %1 local write failure(s)%2</translation>
    </message>
    <message>
        <source>, first: %1</source>
        <translation>, first: %1</translation>
    </message>
    <message>
        <source>Video connect error.</source>
        <translation>Video connect error.</translation>
    </message>
    <message>
        <source>The remote picture is %1×%2: larger than the viewer can show (8192×4320 at most).</source>
        <translation>The remote picture is %1×%2: larger than the viewer can show (8192×4320 at most).</translation>
    </message>
    <message>
        <source>%1 channel connected again</source>
        <translation type="vanished">%1 channel connected again</translation>
    </message>
    <message>
        <source>Recording stopped: the video channel was lost.</source>
        <translation type="vanished">Recording stopped: the video channel was lost.</translation>
    </message>
    <message>
        <source>%1 channel lost (%2): reconnecting…</source>
        <translation type="vanished">%1 channel lost (%2): reconnecting…</translation>
    </message>
    <message>
        <source>Connection to the device lost — reconnecting…</source>
        <translation type="vanished">Connection to the device lost — reconnecting…</translation>
    </message>
    <message>
        <source>%1 channel, attempt %2</source>
        <translation type="vanished">%1 channel, attempt %2</translation>
    </message>
    <message>
        <source>Mouse Hide</source>
        <translation>Mouse Hide</translation>
    </message>
    <message>
        <source>Mouse Show</source>
        <translation>Mouse Show</translation>
    </message>
    <message>
        <source>connected</source>
        <translation>connected</translation>
    </message>
    <message>
        <source>reconnecting</source>
        <translation>reconnecting</translation>
    </message>
    <message>
        <source>stalled</source>
        <translation>stalled</translation>
    </message>
    <message>
        <source>lost</source>
        <translation>lost</translation>
    </message>
    <message>
        <source>Pointer locked to the remote computer: Ctrl+Alt+Shift+F12 sets it free</source>
        <translation>Pointer locked to the remote computer: Ctrl+Alt+Shift+F12 sets it free</translation>
    </message>
    <message>
        <source>Relative mouse mode is approximate here: the desktop cannot lock the pointer. Absolute mode follows the pointer exactly.</source>
        <translation>Relative mouse mode is approximate here: the desktop cannot lock the pointer. Absolute mode follows the pointer exactly.</translation>
    </message>
    <message>
        <source>Keyboard settings not saved: %1 cannot be read.</source>
        <translation>Keyboard settings not saved: %1 cannot be read.</translation>
    </message>
    <message>
        <source>Lock keys of the remote computer</source>
        <translation>Lock keys of the remote computer</translation>
    </message>
    <message>
        <source>Saved %1 files, the last %2</source>
        <translation>Saved %1 files, the last %2</translation>
    </message>
    <message>
        <source>opening</source>
        <translation>opening</translation>
    </message>
    <message>
        <source>login refused</source>
        <translation>login refused</translation>
    </message>
    <message>
        <source>Full screen: Ctrl+Alt+Shift+F12 lets the keyboard go and leaves it</source>
        <translation>Full screen: Ctrl+Alt+Shift+F12 lets the keyboard go and leaves it</translation>
    </message>
    <message>
        <source>Paste Text: not typed</source>
        <translation>Paste Text: not typed</translation>
    </message>
    <message>
        <source>The text was not typed: %1.</source>
        <translation>The text was not typed: %1.</translation>
    </message>
    <message>
        <source>and %1 more</source>
        <translation>and %1 more</translation>
    </message>
    <message>
        <source>Paste Text: characters without a key</source>
        <translation>Paste Text: characters without a key</translation>
    </message>
    <message>
        <source>The remote layout &quot;%1&quot; has no key for these characters:
%2</source>
        <translation>The remote layout &quot;%1&quot; has no key for these characters:
%2</translation>
    </message>
    <message>
        <source>&amp;Skip them, type the rest</source>
        <translation>&amp;Skip them, type the rest</translation>
    </message>
    <message>
        <source>Type %1 characters on the remote computer? It takes about %2 s.</source>
        <translation>Type %1 characters on the remote computer? It takes about %2 s.</translation>
    </message>
    <message>
        <source>Paste Text: typed %1 of %2 characters</source>
        <translation>Paste Text: typed %1 of %2 characters</translation>
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
        <translation>FullScreen</translation>
    </message>
    <message>
        <source>align</source>
        <translation>align</translation>
    </message>
    <message>
        <source>Align mouse</source>
        <translation>Align mouse</translation>
    </message>
    <message>
        <source>grab</source>
        <translation>grab</translation>
    </message>
    <message>
        <source>Grab privilege</source>
        <translation>Grab privilege</translation>
    </message>
    <message>
        <source>Video Config</source>
        <translation>Video Config</translation>
    </message>
    <message>
        <source>media</source>
        <translation>media</translation>
    </message>
    <message>
        <source>MouseHide</source>
        <translation>MouseHide</translation>
    </message>
    <message>
        <source>Mouse Hide</source>
        <translation>Mouse Hide</translation>
    </message>
    <message>
        <source>setKey</source>
        <translation>setKey</translation>
    </message>
    <message>
        <source>Set Key</source>
        <translation>Set Key</translation>
    </message>
    <message>
        <source>OptRes</source>
        <translation>OptRes</translation>
    </message>
    <message>
        <source>optimum resolution</source>
        <translation>optimum resolution</translation>
    </message>
    <message>
        <source>Statistics</source>
        <translation>Statistics</translation>
    </message>
    <message>
        <source>Statistics (Ctrl+Alt+Shift+S)</source>
        <translation>Statistics (Ctrl+Alt+Shift+S)</translation>
    </message>
    <message>
        <source>Record</source>
        <translation>Record</translation>
    </message>
    <message>
        <source>Record the video stream</source>
        <translation>Record the video stream</translation>
    </message>
    <message>
        <source>Actual Size</source>
        <translation>Actual Size</translation>
    </message>
    <message>
        <source>Actual Size: the picture pixel for pixel</source>
        <translation>Actual Size: the picture pixel for pixel</translation>
    </message>
    <message>
        <source>toolBar</source>
        <translation>toolBar</translation>
    </message>
</context>
<context>
    <name>UiTexts</name>
    <message>
        <source>Video Setting</source>
        <translation>Video Setting</translation>
    </message>
    <message>
        <source>Position</source>
        <translation>Position</translation>
    </message>
    <message>
        <source>Up</source>
        <translation>Up</translation>
    </message>
    <message>
        <source>Down</source>
        <translation>Down</translation>
    </message>
    <message>
        <source>Left</source>
        <translation>Left</translation>
    </message>
    <message>
        <source>Right</source>
        <translation>Right</translation>
    </message>
    <message>
        <source>Reset</source>
        <translation>Reset</translation>
    </message>
    <message>
        <source>Mouse Sample Rate</source>
        <translation>Mouse Sample Rate</translation>
    </message>
    <message>
        <source>Virtual Media Setting</source>
        <translation>Virtual Media Setting</translation>
    </message>
    <message>
        <source>Map Drive</source>
        <translation>Map Drive</translation>
    </message>
    <message>
        <source>Map Mode</source>
        <translation>Map Mode</translation>
    </message>
    <message>
        <source>Read Only</source>
        <translation>Read Only</translation>
    </message>
    <message>
        <source>Map</source>
        <translation>Map</translation>
    </message>
    <message>
        <source>Unmap</source>
        <translation>Unmap</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>Progress</translation>
    </message>
    <message>
        <source>Shotcut Setting</source>
        <translation>Shotcut Setting</translation>
    </message>
    <message>
        <source>Mapping Name</source>
        <translation>Mapping Name</translation>
    </message>
    <message>
        <source>Key String</source>
        <translation>Key String</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>Modify</source>
        <translation>Modify</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Delete</translation>
    </message>
</context>
<context>
    <name>c_connect_dlg</name>
    <message>
        <source>Connect</source>
        <translation>Connect</translation>
    </message>
    <message>
        <source>Paste the launch string that the device&apos;s web page gives for this viewer
(it starts with {desEncode or %7BdesEncode), or open a file that holds it.</source>
        <translation>Paste the launch string that the device&apos;s web page gives for this viewer
(it starts with {desEncode or %7BdesEncode), or open a file that holds it.</translation>
    </message>
    <message>
        <source>Open File…</source>
        <translation>Open File…</translation>
    </message>
    <message>
        <source>Launch string file</source>
        <translation>Launch string file</translation>
    </message>
</context>
<context>
    <name>c_desktop_input</name>
    <message>
        <source>Keyboard released: the desktop&apos;s shortcuts are its own</source>
        <translation>Keyboard released: the desktop&apos;s shortcuts are its own</translation>
    </message>
    <message>
        <source>Keyboard grab asked for: waiting for the desktop to allow it</source>
        <translation>Keyboard grab asked for: waiting for the desktop to allow it</translation>
    </message>
    <message>
        <source>Keyboard grabbed: every key goes to the remote computer</source>
        <translation>Keyboard grabbed: every key goes to the remote computer</translation>
    </message>
    <message>
        <source>Keyboard grab refused by the desktop: its shortcuts stay local</source>
        <translation>Keyboard grab refused by the desktop: its shortcuts stay local</translation>
    </message>
    <message>
        <source>This desktop cannot hand its shortcuts to the window: they stay local</source>
        <translation>This desktop cannot hand its shortcuts to the window: they stay local</translation>
    </message>
</context>
<context>
    <name>c_session_overlay</name>
    <message>
        <source>Try again</source>
        <translation>Try again</translation>
    </message>
</context>
<context>
    <name>c_session_status</name>
    <message>
        <source>%1 channel connected again</source>
        <translation>%1 channel connected again</translation>
    </message>
    <message>
        <source>%1 channel: %2.</source>
        <translation>%1 channel: %2.</translation>
    </message>
    <message>
        <source>%1 channel lost (%2): reconnecting…</source>
        <translation>%1 channel lost (%2): reconnecting…</translation>
    </message>
    <message>
        <source>The device refused the login.</source>
        <translation>The device refused the login.</translation>
    </message>
    <message>
        <source>The device closes the connection right after the opening: the key or the user in the launch string may be wrong.</source>
        <translation>The device closes the connection right after the opening: the key or the user in the launch string may be wrong.</translation>
    </message>
    <message>
        <source>Connection to the device lost — reconnecting…</source>
        <translation>Connection to the device lost — reconnecting…</translation>
    </message>
    <message>
        <source>%1 channel: %2</source>
        <translation>%1 channel: %2</translation>
    </message>
    <message>
        <source>%1 channel, attempt %2 (closed after the opening)</source>
        <translation>%1 channel, attempt %2 (closed after the opening)</translation>
    </message>
    <message>
        <source>%1 channel, attempt %2</source>
        <translation>%1 channel, attempt %2</translation>
    </message>
    <message>
        <source>%1 channel, attempt %2 (%3)</source>
        <translation>%1 channel, attempt %2 (%3)</translation>
    </message>
    <message>
        <source>The device does not answer — input is delayed.</source>
        <translation>The device does not answer — input is delayed.</translation>
    </message>
</context>
<context>
    <name>c_ui_u_setting_dlg</name>
    <message>
        <source>Disk image</source>
        <translation>Disk image</translation>
    </message>
    <message>
        <source>Disk images (*.img *.iso *.raw *.bin);;All files (*)</source>
        <translation>Disk images (*.img *.iso *.raw *.bin);;All files (*)</translation>
    </message>
    <message>
        <source>提示</source>
        <translation>Notice</translation>
    </message>
    <message>
        <source>虚拟媒体服务器连接出错.</source>
        <translation>Virtual media server connection error.</translation>
    </message>
    <message>
        <source>Disk image file...</source>
        <translation>Disk image file...</translation>
    </message>
    <message>
        <source>Choose a drive or a disk image first.</source>
        <translation>Choose a drive or a disk image first.</translation>
    </message>
    <message>
        <source>Map failed: %1</source>
        <translation>Map failed: %1</translation>
    </message>
    <message>
        <source>Mapped: %1 MB/s, %2 write failures</source>
        <translation>Mapped: %1 MB/s, %2 write failures</translation>
    </message>
    <message>
        <source>Mapped: %1 MB/s, %2 write failure</source>
        <translation>Mapped: %1 MB/s, %2 write failure</translation>
    </message>
    <message>
        <source> (first: %1)</source>
        <translation> (first: %1)</translation>
    </message>
    <message>
        <source>Stalled: the device has read or acknowledged nothing for 10 s.</source>
        <translation>Stalled: the device has read or acknowledged nothing for 10 s.</translation>
    </message>
    <message>
        <source>Channel lost: reconnecting (attempt %1).</source>
        <translation>Channel lost: reconnecting (attempt %1).</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>critical</source>
        <translation>critical</translation>
    </message>
    <message>
        <source>启动串口工具失败。</source>
        <translation>Starting the serial port tool failed.</translation>
    </message>
</context>
<context>
    <name>sysKeyConfig</name>
    <message>
        <source>sysKeyConfig</source>
        <translation>sysKeyConfig</translation>
    </message>
    <message>
        <source>Mapping Name:</source>
        <translation>Mapping Name:</translation>
    </message>
    <message>
        <source>Key String:</source>
        <translation>Key String:</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>Modify</source>
        <translation>Modify</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Delete</translation>
    </message>
</context>
<context>
    <name>uSetingDialog</name>
    <message>
        <source>虚拟媒体设置</source>
        <translation>Virtual Media Setting</translation>
    </message>
    <message>
        <source>映射盘符</source>
        <translation>Map Drive</translation>
    </message>
    <message>
        <source>映射模式</source>
        <translation>Map Mode</translation>
    </message>
    <message>
        <source>只读</source>
        <translation>Read Only</translation>
    </message>
    <message>
        <source>映射</source>
        <translation>Map</translation>
    </message>
    <message>
        <source>查询</source>
        <translation>Query</translation>
    </message>
    <message>
        <source>结束映射</source>
        <translation>Unmap</translation>
    </message>
    <message>
        <source>进度：</source>
        <translation>Progress:</translation>
    </message>
</context>
<context>
    <name>video_setting_dlg</name>
    <message>
        <source>视频设置</source>
        <translation>Video Setting</translation>
    </message>
    <message>
        <source>视频位置:</source>
        <translation>Position:</translation>
    </message>
    <message>
        <source>上</source>
        <translation>Up</translation>
    </message>
    <message>
        <source>下</source>
        <translation>Down</translation>
    </message>
    <message>
        <source>左</source>
        <translation>Left</translation>
    </message>
    <message>
        <source>右</source>
        <translation>Right</translation>
    </message>
    <message>
        <source>重置</source>
        <translation>Reset</translation>
    </message>
    <message>
        <source>鼠标采样率(s):</source>
        <translation>Mouse Sample Rate(s):</translation>
    </message>
</context>
</TS>
