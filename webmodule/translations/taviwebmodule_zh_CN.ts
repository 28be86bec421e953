<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>CMessageBox</name>
    <message>
        <source>Prompt later</source>
        <translation>稍后提示</translation>
    </message>
    <message>
        <source>Close prompt</source>
        <translation>关闭提示</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>Closes the tip without a choice (Escape)</source>
        <translation>不作选择，关闭提示框（Esc）</translation>
    </message>
    <message>
        <source>Device alarm</source>
        <translation>设备告警</translation>
    </message>
</context>
<context>
    <name>ImageDialog</name>
    <message>
        <source>Image could not be loaded.</source>
        <translation>无法加载图片。</translation>
    </message>
    <message>
        <source>Picture viewer</source>
        <translation>图片查看器</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>Closes the picture viewer (Escape)</source>
        <translation>关闭图片查看器（Esc）</translation>
    </message>
    <message>
        <source>Picture</source>
        <translation>图片</translation>
    </message>
    <message>
        <source>Open folder</source>
        <translation>打开文件夹</translation>
    </message>
    <message>
        <source>Shows the folder that holds the picture in the file manager (Enter)</source>
        <translation>在文件管理器中打开图片所在的文件夹（Enter）</translation>
    </message>
</context>
<context>
    <name>PlayVideoDialog</name>
    <message>
        <source>Video playback</source>
        <translation>视频播放</translation>
    </message>
    <message>
        <source>Video</source>
        <translation>视频</translation>
    </message>
    <message>
        <source>Position</source>
        <translation>播放进度</translation>
    </message>
    <message>
        <source>Left and Right seek by 5 seconds, Home and End go to the start and the end</source>
        <translation>左右方向键快退、快进 5 秒，Home 和 End 跳到开头和结尾</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>Closes the video window (Escape)</source>
        <translation>关闭视频窗口（Esc）</translation>
    </message>
    <message>
        <source>Volume</source>
        <translation>音量</translation>
    </message>
    <message>
        <source>Play</source>
        <translation>播放</translation>
    </message>
    <message>
        <source>Pause</source>
        <translation>暂停</translation>
    </message>
    <message>
        <source>Plays or pauses the video (Space)</source>
        <translation>播放或暂停视频（空格键）</translation>
    </message>
    <message>
        <source>Turn sound off</source>
        <translation>关闭声音</translation>
    </message>
    <message>
        <source>Turn sound on</source>
        <translation>打开声音</translation>
    </message>
    <message>
        <source>Turns the sound on or off (M)</source>
        <translation>打开或关闭声音（M）</translation>
    </message>
</context>
</TS>
