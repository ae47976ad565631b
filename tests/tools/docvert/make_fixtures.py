#!/usr/bin/python3
"""Regenerates the conversion fixtures in fixtures/ with real tools.

photo.png and paper.png come from ImageMagick, resume.doc from LibreOffice
(resume.html with the photo inlined, saved as Word 97), filename_field.doc
from LibreOffice too (one paragraph with a FILENAME field), and the three .mht
archives from Python's email package:

  word_cp936.mht  Word-style: quoted-printable page labelled gb2312 that holds
                  code page 936 characters GB 2312 lacks, file:/// locations,
                  pictures referred to relative to the page, also inside
                  conditional comments and as a table background.
  cid_start.mht   references by cid:, the multipart's start parameter naming
                  the third part, a decoy HTML part first.
  browser.mht     browser-style: base64 page without a charset parameter (its
                  meta says gbk), a stylesheet part whose url() is relative to
                  the stylesheet, absolute https locations.

Run it from anywhere: /usr/bin/python3 tests/tools/docvert/make_fixtures.py
"""
import base64
import os
import shutil
import subprocess
import tempfile
from email import encoders
from email.mime.multipart import MIMEMultipart
from email.mime.nonmultipart import MIMENonMultipart
from email.policy import compat32

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "fixtures")


def image(name, *draw):
    path = os.path.join(OUT, name)
    subprocess.run(["convert", *draw, "-strip", path], check=True)
    with open(path, "rb") as f:
        return f.read()


def save_as_word(name, source_name, text):
    """Writes `text` as `source_name` and has LibreOffice save it as fixtures/<name>.doc (Word 97)."""
    with tempfile.TemporaryDirectory() as work:
        source = os.path.join(work, source_name)
        with open(source, "w", encoding="utf-8") as f:
            f.write(text)
        profile = "file://" + os.path.join(work, "profile")
        subprocess.run(["soffice", "--headless", "--norestore", "-env:UserInstallation=" + profile,
                        "--convert-to", "doc:MS Word 97", "--outdir", work, source],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.copyfile(os.path.join(work, name + ".doc"), os.path.join(OUT, name + ".doc"))


def make_doc(photo):
    with open(os.path.join(OUT, "resume.html"), encoding="utf-8") as f:
        page = f.read()
    inlined = page.replace('src="photo.png"', 'src="data:image/png;base64,%s"' % base64.b64encode(photo).decode())
    save_as_word("resume", "resume.html", inlined)


def make_field_doc():
    page = ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"'
            ' xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" office:version="1.2"'
            ' office:mimetype="application/vnd.oasis.opendocument.text"><office:body><office:text>'
            '<text:p>简历文件：<text:file-name text:display="name-and-extension">x.doc</text:file-name></text:p>'
            '</office:text></office:body></office:document>\n')
    save_as_word("filename_field", "filename_field.fodt", page)


def part(maintype, subtype, payload, encode, charset=None, **headers):
    p = MIMENonMultipart(maintype, subtype, **({"charset": charset} if charset else {}))
    p.set_payload(payload)
    encode(p)
    for name, value in headers.items():
        p[name.replace("_", "-")] = value
    return p


def write_mht(name, related, preamble_headers):
    for header, value in preamble_headers:
        related[header] = value
    related.preamble = "This document is a Single File Web Page, also known as a Web Archive file."
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(related.as_bytes(policy=compat32.clone(linesep="\r\n")))


def word_mht(photo, paper):
    base = "file:///C:/8A7B2C3D/resume"
    page = """<html xmlns:v="urn:schemas-microsoft-com:vml" xmlns:o="urn:schemas-microsoft-com:office:office">
<head>
<meta http-equiv=Content-Type content="text/html; charset=gb2312">
<meta name=ProgId content=Word.Document>
<link rel=File-List href="resume.files/filelist.xml">
<style>
<!--
p.MsoNormal {margin:0cm; text-align:justify; font-family:宋体}
td.banner {background-image:url("resume.files/image002.png")}
-->
</style>
</head>
<body lang=ZH-CN>
<div class=WordSection1>
<p class=MsoNormal align=center style='text-align:center'><b>个人简历</b></p>
<p class=MsoNormal><!--[if gte vml 1]><v:shape id="_x0000_i1025" style='width:30pt;height:39pt'>
 <v:imagedata src="resume.files/image001.png" o:title="照片"/>
</v:shape><![endif]--><![if !vml]><img width=40 height=52 src="resume.files/image001.png" alt="照片" v:shapes="_x0000_i1025"><![endif]></p>
<table class=MsoTableGrid border=1 cellspacing=0 cellpadding=0 background="resume.files/image002.png">
 <tr><td class=banner>姓名</td><td>张喆</td></tr>
 <tr><td>籍贯</td><td>朱镕乡，堃昇村</td></tr>
 <tr><td>求职意向</td><td><i>软件工程师</i></td></tr>
</table>
<ul><li>精通 C++ 与数据库</li><li>大学英语六级</li></ul>
</div>
</body>
</html>
"""
    related = MIMEMultipart("related", boundary="----=_NextPart_01D9A1B2.C3D4E5F0")
    related.set_param("type", "text/html")
    related.attach(part("text", "html", page.encode("gbk"), encoders.encode_quopri, charset="gb2312",
                        Content_Location=base + ".htm"))
    related.attach(part("image", "png", photo, encoders.encode_base64,
                        Content_Location=base + ".files/image001.png"))
    related.attach(part("image", "png", paper, encoders.encode_base64,
                        Content_Location=base + ".files/image002.png"))
    filelist = '<xml xmlns:o="urn:schemas-microsoft-com:office:office"><o:MainFile HRef="../resume.htm"/></xml>'
    related.attach(part("text", "xml", filelist.encode(), encoders.encode_quopri, charset="utf-8",
                        Content_Location=base + ".files/filelist.xml"))
    write_mht("word_cp936.mht", related, [])


def cid_mht(photo, paper):
    page = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>简历</title></head>
<body>
<h1>李娜的简历</h1>
<p><img src="cid:photo@cv.example" alt="照片"></p>
<div style="background-image: url(&quot;cid:paper@cv.example&quot;)">
<table border="1"><tr><th>学校</th><td>北京大学</td></tr><tr><th>专业</th><td>计算机科学</td></tr></table>
</div>
</body></html>
"""
    related = MIMEMultipart("related", boundary="cid-boundary-7f3a")
    related.set_param("type", "text/html")
    related.set_param("start", "<root.page@cv.example>")
    related.attach(part("image", "png", photo, encoders.encode_base64, Content_ID="<photo@cv.example>"))
    related.attach(part("text", "html", "<p>诱饵页面 decoy</p>".encode(), encoders.encode_base64,
                        charset="utf-8", Content_ID="<decoy@cv.example>"))
    related.attach(part("text", "html", page.encode(), encoders.encode_base64, charset="utf-8",
                        Content_ID="<root.page@cv.example>"))
    related.attach(part("image", "png", paper, encoders.encode_base64, Content_ID="<paper@cv.example>"))
    write_mht("cid_start.mht", related, [])


def browser_mht(photo, paper):
    page = """<!DOCTYPE html>
<html><head><meta charset="gbk"><title>王芳 - 简历</title>
<link rel="stylesheet" href="../../static/cv.css"></head>
<body>
<h1 class="name">王芳</h1>
<img class="photo" src="https://cv.example.com/u/123/photo.png" alt="照片">
<table><tr><td>工作经验</td><td>五年</td></tr><tr><td>期望薪资</td><td>面议</td></tr></table>
<p><a href="https://cv.example.com/contact">联系我</a></p>
</body></html>
"""
    css = "body { background: #fff url(../img/paper.png) repeat }\n.photo { border: 1px solid #ccc }\n"
    related = MIMEMultipart("related", boundary="----MultipartBoundary--Qx7Yb2Lk0PzVwT5rNfCsDe----")
    related.set_param("type", "text/html")
    related.attach(part("text", "html", page.encode("gbk"), encoders.encode_base64,
                        Content_ID="<frame-6C1F2B@mhtml.blink>",
                        Content_Location="https://cv.example.com/u/123/index.html"))
    related.attach(part("text", "css", css.encode(), encoders.encode_quopri,
                        Content_Location="https://cv.example.com/static/cv.css"))
    related.attach(part("image", "png", photo, encoders.encode_base64,
                        Content_Location="https://cv.example.com/u/123/photo.png"))
    related.attach(part("image", "png", paper, encoders.encode_base64,
                        Content_Location="https://cv.example.com/img/paper.png"))
    write_mht("browser.mht", related, [
        ("From", "<Saved by Blink>"),
        ("Snapshot-Content-Location", "https://cv.example.com/u/123/index.html"),
        ("Subject", "=?utf-8?Q?=E7=AE=80=E5=8E=86?="),
    ])


def main():
    os.makedirs(OUT, exist_ok=True)
    photo = image("photo.png", "-size", "40x52", "xc:#8ab4d8", "-fill", "#2a4a6a",
                  "-draw", "circle 20,18 20,8", "-draw", "ellipse 20,52 16,14 180,360")
    paper = image("paper.png", "-size", "16x16", "pattern:checkerboard", "-colors", "4")
    make_doc(photo)
    make_field_doc()
    word_mht(photo, paper)
    cid_mht(photo, paper)
    browser_mht(photo, paper)


if __name__ == "__main__":
    main()
