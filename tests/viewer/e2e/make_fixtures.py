#!/usr/bin/python3
"""Regenerates the viewer's end-to-end fixtures in fixtures/ with real tools.

Every resume carries the same marks the tests look for on the screen:
  - a photo: a 120 x 150 picture, top half rgb(200,40,160), bottom half
    rgb(40,160,200) (ImageMagick);
  - the character "一" at 96 pixels in rgb(0,0,200): drawn by a Chinese font it
    is a wide, flat bar; a missing glyph would be a tall box;
  - Chinese body text long enough to select;
  - where the format can carry one, a page script and an onload attribute that
    would paint the page rgb(255,0,0) if they ran;
  - a link in rgb(0,150,0) that asks for a new window.

resume.htm is the page itself with the photo inlined, resume.mht a web archive
(Python's email package) whose photo is a separate part found by its location,
resume.doc the page saved as Word 97 by LibreOffice.

Run: /usr/bin/python3 tests/viewer/e2e/make_fixtures.py
"""
import base64
import os
import shutil
import subprocess
import tempfile
from email import encoders
from email.mime.multipart import MIMEMultipart
from email.mime.nonmultipart import MIMENonMultipart
from email.mime.text import MIMEText
from email.policy import compat32

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "fixtures")

PAGE = """<!DOCTYPE html>
<html>
<head>
<meta charset="utf-8">
<title>个人简历</title>
</head>
<body onload="document.body.style.background='rgb(255,0,0)'">
<h1>张伟　个人简历</h1>
<p><img src="{photo}" width="120" height="150" alt="照片"></p>
<p style="font-size:96px;line-height:1.2;color:rgb(0,0,200);margin:0">一</p>
<p>求职意向：软件工程师。毕业于清华大学计算机系，硕士研究生，三年工作经验，熟悉 C++ 与数据库开发。</p>
<p>联系电话：138-0000-0000　电子邮件：zhangwei@example.com</p>
<p><a href="more.htm" target="_blank" style="color:rgb(0,150,0);font-size:24px">更多信息</a></p>
{script}
</body>
</html>
"""
SCRIPT = """<script>
document.body.style.background = 'rgb(255,0,0)';
document.body.insertAdjacentHTML('afterbegin', '<p style="font-size:48px;color:rgb(255,0,0)">SCRIPT RAN</p>');
</script>"""


def make_photo():
    path = os.path.join(OUT, "photo.png")
    subprocess.run(["convert", "-size", "120x75", "xc:rgb(200,40,160)", "-size", "120x75",
                    "xc:rgb(40,160,200)", "-append", "-strip", "PNG24:" + path], check=True)
    with open(path, "rb") as f:
        return f.read()


def data_uri(photo):
    return "data:image/png;base64," + base64.b64encode(photo).decode()


def make_htm(photo):
    with open(os.path.join(OUT, "resume.htm"), "w", encoding="utf-8") as f:
        f.write(PAGE.format(photo=data_uri(photo), script=SCRIPT))


def make_mht(photo):
    archive = MIMEMultipart("related", type="text/html")
    page = MIMEText(PAGE.format(photo="photo.png", script=SCRIPT), "html", "utf-8")
    page["Content-Location"] = "file:///C:/resume/resume.htm"
    archive.attach(page)
    picture = MIMENonMultipart("image", "png")
    picture.set_payload(photo)
    encoders.encode_base64(picture)
    picture["Content-Location"] = "file:///C:/resume/photo.png"
    archive.attach(picture)
    archive["MIME-Version"] = "1.0"
    with open(os.path.join(OUT, "resume.mht"), "w", newline="\r\n") as f:
        f.write(archive.as_string(policy=compat32))


def make_doc(photo):
    with tempfile.TemporaryDirectory() as work:
        source = os.path.join(work, "resume.html")
        with open(source, "w", encoding="utf-8") as f:
            f.write(PAGE.format(photo=data_uri(photo), script=""))
        profile = "file://" + os.path.join(work, "profile")
        subprocess.run(["soffice", "--headless", "--norestore", "-env:UserInstallation=" + profile,
                        "--convert-to", "doc:MS Word 97", "--outdir", work, source],
                       check=True, stdout=subprocess.DEVNULL)
        shutil.copyfile(os.path.join(work, "resume.doc"), os.path.join(OUT, "resume.doc"))


def main():
    os.makedirs(OUT, exist_ok=True)
    photo = make_photo()
    make_htm(photo)
    make_mht(photo)
    make_doc(photo)


if __name__ == "__main__":
    main()
