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
</context>
<context>
    <name>ImageDialog</name>
    <message>
        <source>Image could not be loaded.</source>
        <translation>无法加载图片。</translation>
    </message>
</context>
</TS>
