<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>AboutDialog</name>
    <message>
        <source>About Orvane</source>
        <translation>Über Orvane</translation>
    </message>
    <message>
        <source>Orvane Version %1</source>
        <translation>Orvane Version %1</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Website: %1</source>
        <translation>Website: %1</translation>
    </message>
    <message>
        <source>Support: %1</source>
        <translation>Support: %1</translation>
    </message>
    <message>
        <source>Copyright © 2026 Vantorel. All rights reserved.</source>
        <translation>Copyright © 2026 Vantorel. Alle Rechte vorbehalten.</translation>
    </message>
</context>
<context>
    <name>ConversionController</name>
    <message>
        <source>Can not get My Music directory!</source>
        <translation>Der Ordner „Musik“ wurde nicht gefunden!</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Please open a Media file first!</source>
        <translation>Bitte öffnen Sie zuerst eine Mediendatei!</translation>
    </message>
    <message>
        <source>The Start Time is bigger than the End Time!</source>
        <translation>Die Startzeit liegt nach der Endzeit!</translation>
    </message>
    <message>
        <source>%1 exists. Do you want to replace it?</source>
        <translation>%1 ist bereits vorhanden. Möchten Sie die Datei ersetzen?</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Warnung</translation>
    </message>
    <message>
        <source>can not begin thread!</source>
        <translation>Die Konvertierung kann nicht gestartet werden!</translation>
    </message>
    <message>
        <source>Can not convert %1: %2</source>
        <translation>%1 kann nicht konvertiert werden: %2</translation>
    </message>
    <message>
        <source>Select Output</source>
        <translation>Ausgabedatei wählen</translation>
    </message>
    <message>
        <source>Wav file (*.wav)</source>
        <translation>WAV-Datei (*.wav)</translation>
    </message>
    <message>
        <source>Can not convert %1: no sound could be read from the Start Time on, although the file has sound there.</source>
        <translation>%1 kann nicht konvertiert werden: Ab der Startzeit ließ sich kein Ton lesen, obwohl die Datei dort Ton enthält.</translation>
    </message>
    <message>
        <source>%1 samples were louder than this format can hold and were clipped; &quot;32-bit float&quot; keeps them whole.</source>
        <translation>%1 Samples waren lauter, als dieses Format fassen kann, und wurden abgeschnitten; „32 Bit Gleitkomma“ behält sie unverändert.</translation>
    </message>
</context>
<context>
    <name>ConverterDialog</name>
    <message>
        <source>Convert</source>
        <translation>Konvertieren</translation>
    </message>
    <message>
        <source>Open Media File</source>
        <translation>Mediendatei öffnen</translation>
    </message>
    <message>
        <source>Start Time</source>
        <translation>Startzeit</translation>
    </message>
    <message>
        <source>End Time</source>
        <translation>Endzeit</translation>
    </message>
    <message>
        <source>Play</source>
        <translation>Wiedergabe</translation>
    </message>
    <message>
        <source>Pause</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Stopp</translation>
    </message>
    <message>
        <source>Output File</source>
        <translation>Ausgabedatei</translation>
    </message>
    <message>
        <source>Browse</source>
        <translation>Durchsuchen</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Hilfe</translation>
    </message>
    <message>
        <source>Homepage</source>
        <translation>Website</translation>
    </message>
    <message>
        <source>About</source>
        <translation>Über</translation>
    </message>
    <message>
        <source>&amp;About Orvane</source>
        <translation>Ü&amp;ber Orvane</translation>
    </message>
    <message>
        <source>Orvane</source>
        <translation>Orvane</translation>
    </message>
    <message>
        <source>Less ▾</source>
        <translation>Weniger ▾</translation>
    </message>
    <message>
        <source>More ▸</source>
        <translation>Mehr ▸</translation>
    </message>
    <message>
        <source>More ▸ •</source>
        <translation>Mehr ▸ •</translation>
    </message>
    <message>
        <source>The panel has a note on the last conversion</source>
        <translation>Der Bereich enthält einen Hinweis zur letzten Umwandlung</translation>
    </message>
    <message>
        <source>Less</source>
        <translation>Weniger</translation>
    </message>
    <message>
        <source>More</source>
        <translation>Mehr</translation>
    </message>
</context>
<context>
    <name>DialogAccessibility</name>
    <message>
        <source>Media file</source>
        <translation>Mediendatei</translation>
    </message>
    <message>
        <source>The open file and where the preview is</source>
        <translation>Die geöffnete Datei und die Stelle der Vorschau</translation>
    </message>
    <message>
        <source>Position</source>
        <translation>Position</translation>
    </message>
    <message>
        <source>Where the preview plays, from the start to the end of the file</source>
        <translation>Wo die Vorschau spielt, vom Anfang bis zum Ende der Datei</translation>
    </message>
    <message>
        <source>Start Time mark</source>
        <translation>Marke Startzeit</translation>
    </message>
    <message>
        <source>End Time mark</source>
        <translation>Marke Endzeit</translation>
    </message>
    <message>
        <source>Output File</source>
        <translation>Ausgabedatei</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>Fortschritt</translation>
    </message>
</context>
<context>
    <name>HelpWindow</name>
    <message>
        <source>&lt;html&gt;&lt;head&gt;&lt;title&gt;Help page not found&lt;/title&gt;&lt;/head&gt;&lt;body&gt;&lt;h1&gt;Help page not found&lt;/h1&gt;&lt;p&gt;The help page &lt;code&gt;%1&lt;/code&gt; was not found.&lt;/p&gt;&lt;p&gt;Orvane looks for its help in &lt;code&gt;share/orvane/help&lt;/code&gt; under the folder it is installed in. Installing Orvane again puts the help pages back.&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head&gt;&lt;title&gt;Hilfeseite nicht gefunden&lt;/title&gt;&lt;/head&gt;&lt;body&gt;&lt;h1&gt;Hilfeseite nicht gefunden&lt;/h1&gt;&lt;p&gt;Die Hilfeseite &lt;code&gt;%1&lt;/code&gt; wurde nicht gefunden.&lt;/p&gt;&lt;p&gt;Orvane sucht seine Hilfe in &lt;code&gt;share/orvane/help&lt;/code&gt; unter dem Ordner, in dem es installiert ist. Wenn Sie Orvane neu installieren, sind die Hilfeseiten wieder da.&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>Orvane Help</source>
        <translation>Orvane-Hilfe</translation>
    </message>
    <message>
        <source>Contents</source>
        <translation>Inhalt</translation>
    </message>
    <message>
        <source>Back</source>
        <translation>Zurück</translation>
    </message>
    <message>
        <source>Forward</source>
        <translation>Vorwärts</translation>
    </message>
    <message>
        <source> - Orvane Help</source>
        <translation> – Orvane-Hilfe</translation>
    </message>
</context>
<context>
    <name>JobObserverBridge</name>
    <message>
        <source>Can not open %1</source>
        <translation>%1 kann nicht geöffnet werden</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Can not write %1</source>
        <translation>%1 kann nicht geschrieben werden</translation>
    </message>
    <message>
        <source>The WAV file %1 has reached 4 GB, the most a WAV file can hold. The conversion stopped there; the file holds everything up to that point.
To write larger files, tick &quot;Large and multichannel WAV (RF64/extensible)&quot; under More.</source>
        <translation>Die WAV-Datei %1 hat 4 GB erreicht, mehr kann eine WAV-Datei nicht fassen. Die Konvertierung hat dort angehalten; die Datei enthält alles bis zu dieser Stelle.
Um größere Dateien zu schreiben, kreuzen Sie unter „Mehr“ „Große und mehrkanalige WAV-Dateien (RF64/extensible)“ an.</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Warnung</translation>
    </message>
</context>
<context>
    <name>MediaController</name>
    <message>
        <source>Select a Media file</source>
        <translation>Mediendatei auswählen</translation>
    </message>
    <message>
        <source>MPEG Files (*.mpg *.mpeg);;Any Files (*)</source>
        <translation>MPEG-Dateien (*.mpg *.mpeg);;Alle Dateien (*)</translation>
    </message>
    <message>
        <source>Opening %1…</source>
        <translation>%1 wird geöffnet…</translation>
    </message>
    <message>
        <source>Cannot open the file and get the total time. You need to install appropriate decoders.
Or the file is corrupt.</source>
        <translation>Die Datei kann nicht geöffnet und ihre Gesamtdauer nicht ermittelt werden. Installieren Sie passende Decoder.
Oder die Datei ist beschädigt.</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Can not open the media file!</source>
        <translation>Die Mediendatei kann nicht geöffnet werden!</translation>
    </message>
    <message>
        <source>%1 (no sound)</source>
        <translation>%1 (ohne Ton)</translation>
    </message>
</context>
<context>
    <name>PanelController</name>
    <message>
        <source>%1 is outside the file. A mark can be from %2 to %3.</source>
        <translation>%1 liegt außerhalb der Datei. Eine Marke kann zwischen %2 und %3 liegen.</translation>
    </message>
    <message>
        <source>%1 is not a time. Type it as hours:minutes:seconds.milliseconds, for example 0:01:30.250.</source>
        <translation>%1 ist keine Zeitangabe. Geben Sie sie als Stunden:Minuten:Sekunden.Millisekunden ein, zum Beispiel 0:01:30.250.</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>The Start Time is bigger than the End Time!</source>
        <translation>Die Startzeit liegt nach der Endzeit!</translation>
    </message>
</context>
<context>
    <name>PrecisionPanel</name>
    <message>
        <source>Start</source>
        <translation>Anfang</translation>
    </message>
    <message>
        <source>End</source>
        <translation>Ende</translation>
    </message>
    <message>
        <source>H:MM:SS.mmm; Up and Down step the part under the cursor</source>
        <translation>H:MM:SS.mmm; die Pfeiltasten nach oben und unten ändern den Teil unter der Schreibmarke</translation>
    </message>
    <message>
        <source>One frame earlier (10 ms without a picture)</source>
        <translation>Ein Einzelbild früher (10 ms bei Dateien ohne Bild)</translation>
    </message>
    <message>
        <source>One frame later (10 ms without a picture)</source>
        <translation>Ein Einzelbild später (10 ms bei Dateien ohne Bild)</translation>
    </message>
    <message>
        <source>Play selection</source>
        <translation>Auswahl abspielen</translation>
    </message>
    <message>
        <source>Loop</source>
        <translation>Schleife</translation>
    </message>
    <message>
        <source>Play start</source>
        <translation>Anfang abspielen</translation>
    </message>
    <message>
        <source>Play end</source>
        <translation>Ende abspielen</translation>
    </message>
    <message>
        <source>The first 2 seconds of the selection</source>
        <translation>Die ersten 2 Sekunden der Auswahl</translation>
    </message>
    <message>
        <source>The last 2 seconds of the selection</source>
        <translation>Die letzten 2 Sekunden der Auswahl</translation>
    </message>
    <message>
        <source>Track</source>
        <translation>Tonspur</translation>
    </message>
    <message>
        <source>Format</source>
        <translation>Format</translation>
    </message>
    <message>
        <source>Large and multichannel WAV (RF64/extensible)</source>
        <translation>Große und mehrkanalige WAV-Dateien (RF64/extensible)</translation>
    </message>
    <message>
        <source>Automatic</source>
        <translation>Automatisch</translation>
    </message>
    <message>
        <source>16-bit</source>
        <translation>16 Bit</translation>
    </message>
    <message>
        <source>24-bit</source>
        <translation>24 Bit</translation>
    </message>
    <message>
        <source>32-bit</source>
        <translation>32 Bit</translation>
    </message>
    <message>
        <source>32-bit float</source>
        <translation>32 Bit Gleitkomma</translation>
    </message>
    <message>
        <source>End exactly at the End mark</source>
        <translation>Genau an der Endmarke enden</translation>
    </message>
    <message>
        <source>Without it the last buffer is written whole, up to 52 ms past the End mark</source>
        <translation>Ohne diese Option wird der letzte Puffer ganz geschrieben, bis zu 52 ms über die Endmarke hinaus</translation>
    </message>
    <message>
        <source>Waveform</source>
        <translation>Wellenform</translation>
    </message>
    <message>
        <source>Left and Right move the playhead one frame (10 ms without a picture); I and O set the Start and End marks there</source>
        <translation>Links und Rechts bewegen die Abspielposition um ein Bild (10 ms ohne Bild); I und O setzen dort die Anfangs- und Endmarke</translation>
    </message>
    <message>
        <source>Start one frame earlier</source>
        <translation>Anfang ein Bild früher</translation>
    </message>
    <message>
        <source>Start one frame later</source>
        <translation>Anfang ein Bild später</translation>
    </message>
    <message>
        <source>End one frame earlier</source>
        <translation>Ende ein Bild früher</translation>
    </message>
    <message>
        <source>End one frame later</source>
        <translation>Ende ein Bild später</translation>
    </message>
</context>
<context>
    <name>PreviewPlayer</name>
    <message>
        <source>Cannot play the file.  The file is either corrupt or
the player does not support the format you are trying to play.
If you want more decoders, please visit our website.</source>
        <translation>Die Datei kann nicht abgespielt werden. Entweder ist sie beschädigt,
oder der Player unterstützt ihr Format nicht.
Weitere Decoder finden Sie auf unserer Website.</translation>
    </message>
    <message>
        <source>Message</source>
        <translation>Meldung</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
</context>
<context>
    <name>PreviewWindow</name>
    <message>
        <source>PREVIEW</source>
        <translation>VORSCHAU</translation>
    </message>
    <message>
        <source>(Paused)</source>
        <translation>(Angehalten)</translation>
    </message>
    <message>
        <source>Video Window</source>
        <translation>Videofenster</translation>
    </message>
    <message>
        <source>Full screen</source>
        <translation>Vollbild</translation>
    </message>
    <message>
        <source>Normal size</source>
        <translation>Normale Größe</translation>
    </message>
    <message>
        <source>Play</source>
        <translation>Wiedergabe</translation>
    </message>
    <message>
        <source>pause</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Stopp</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Preview</source>
        <translation>Vorschau</translation>
    </message>
    <message>
        <source>The media file playing; the Menu key opens Play, Pause, Stop, Full screen and Close</source>
        <translation>Die spielende Mediendatei; die Menütaste öffnet Wiedergabe, Pause, Stopp, Vollbild und Schließen</translation>
    </message>
    <message>
        <source>Picture</source>
        <translation>Bild</translation>
    </message>
</context>
<context>
    <name>QMessageBoxMessages</name>
    <message>
        <source>Replace all</source>
        <translation>Alle ersetzen</translation>
    </message>
    <message>
        <source>Skip existing</source>
        <translation>Vorhandene überspringen</translation>
    </message>
</context>
<context>
    <name>SegmentController</name>
    <message>
        <source>The Start Time is bigger than the End Time!</source>
        <translation>Die Startzeit liegt nach der Endzeit!</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>CSV (*.csv);;Labels (*.txt);;CUE sheet (*.cue)</source>
        <translation>CSV (*.csv);;Marken (*.txt);;CUE-Datei (*.cue)</translation>
    </message>
    <message>
        <source>Open a cut list</source>
        <translation>Schnittliste öffnen</translation>
    </message>
    <message>
        <source>Can not read %1: %2</source>
        <translation>%1 kann nicht gelesen werden: %2</translation>
    </message>
    <message>
        <source>Line %1 of %2: %3
The list was not opened.</source>
        <translation>Zeile %1 von %2: %3
Die Liste wurde nicht geöffnet.</translation>
    </message>
    <message>
        <source>%1: %2
The list was not opened.</source>
        <translation>%1: %2
Die Liste wurde nicht geöffnet.</translation>
    </message>
    <message>
        <source>Save the cut list</source>
        <translation>Schnittliste speichern</translation>
    </message>
    <message>
        <source>The list can not be saved as %1: %2</source>
        <translation>Die Liste kann nicht als %1 gespeichert werden: %2</translation>
    </message>
    <message>
        <source>%1 exists. Do you want to replace it?</source>
        <translation>%1 ist bereits vorhanden. Möchten Sie die Datei ersetzen?</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Warnung</translation>
    </message>
    <message>
        <source>Can not write %1: %2</source>
        <translation>%1 kann nicht geschrieben werden: %2</translation>
    </message>
    <message>
        <source>segment %1 of %2</source>
        <translation>Abschnitt %1 von %2</translation>
    </message>
    <message>
        <source>Export the segments into one file</source>
        <translation>Abschnitte in eine Datei exportieren</translation>
    </message>
    <message>
        <source>Wav file (*.wav)</source>
        <translation>WAV-Datei (*.wav)</translation>
    </message>
    <message>
        <source>Export the segments into a folder</source>
        <translation>Abschnitte in einen Ordner exportieren</translation>
    </message>
    <message>
        <source>These files exist:
%1

Replace them all, or skip them and write the others?</source>
        <translation>Diese Dateien sind bereits vorhanden:
%1

Alle ersetzen, oder sie überspringen und nur die anderen schreiben?</translation>
    </message>
    <message>
        <source>Can not read the sound of %1: %2</source>
        <translation>Der Ton von %1 kann nicht gelesen werden: %2</translation>
    </message>
    <message>
        <source>Finding the silences…</source>
        <translation>Die Pausen werden gesucht…</translation>
    </message>
</context>
<context>
    <name>SegmentPanel</name>
    <message>
        <source>Segments</source>
        <translation>Abschnitte</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Anfang</translation>
    </message>
    <message>
        <source>End</source>
        <translation>Ende</translation>
    </message>
    <message>
        <source>Length</source>
        <translation>Länge</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Note</source>
        <translation>Hinweis</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>Hinzufügen</translation>
    </message>
    <message>
        <source>The Start and End marks become a segment</source>
        <translation>Die Anfangs- und Endmarke werden ein Abschnitt</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Entfernen</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>Leeren</translation>
    </message>
    <message>
        <source>overlaps</source>
        <translation>überlappt</translation>
    </message>
    <message>
        <source>This segment shares time with another one</source>
        <translation>Dieser Abschnitt überschneidet sich mit einem anderen</translation>
    </message>
    <message>
        <source>Chapters</source>
        <translation>Kapitel</translation>
    </message>
    <message>
        <source>The list becomes the file&apos;s chapters</source>
        <translation>Die Liste wird zu den Kapiteln der Datei</translation>
    </message>
    <message>
        <source>Open list…</source>
        <translation>Liste öffnen…</translation>
    </message>
    <message>
        <source>A cut list: CSV, a label file or a CUE sheet</source>
        <translation>Eine Schnittliste: CSV, eine Markendatei oder eine CUE-Datei</translation>
    </message>
    <message>
        <source>Save list…</source>
        <translation>Liste speichern…</translation>
    </message>
    <message>
        <source>File names</source>
        <translation>Dateinamen</translation>
    </message>
    <message>
        <source>{n} the number, {name} the name, {start} the start, {file} the media file&apos;s name; {n:02} gives at least two digits</source>
        <translation>{n} die Nummer, {name} der Name, {start} der Anfang, {file} der Name der Mediendatei; {n:02} gibt mindestens zwei Ziffern</translation>
    </message>
    <message>
        <source>Join into one file</source>
        <translation>In eine Datei zusammenfügen</translation>
    </message>
    <message>
        <source>The segments one after another in one file, with a cue point at the start of each</source>
        <translation>Die Abschnitte nacheinander in einer Datei, mit einer Cue-Marke am Anfang jedes Abschnitts</translation>
    </message>
    <message>
        <source>Write the place in the source (bext)</source>
        <translation>Die Stelle in der Quelle schreiben (bext)</translation>
    </message>
    <message>
        <source>Export segments…</source>
        <translation>Abschnitte exportieren…</translation>
    </message>
    <message>
        <source>Silences…</source>
        <translation>Pausen…</translation>
    </message>
    <message>
        <source>The list becomes the sound between the file&apos;s silences</source>
        <translation>Die Liste wird zum Ton zwischen den Pausen der Datei</translation>
    </message>
</context>
<context>
    <name>SilenceDialog</name>
    <message>
        <source> s</source>
        <translation> s</translation>
    </message>
    <message>
        <source>Segments from silences</source>
        <translation>Segmente aus Pausen</translation>
    </message>
    <message>
        <source> dBFS</source>
        <translation> dBFS</translation>
    </message>
    <message>
        <source>Silence stays below this peak level</source>
        <translation>Stille bleibt unter diesem Spitzenpegel</translation>
    </message>
    <message>
        <source>Shorter quiet stretches belong to the sound</source>
        <translation>Kürzere leise Stellen gehören zum Ton</translation>
    </message>
    <message>
        <source>Kept on each side of the sound</source>
        <translation>Auf jeder Seite des Tons behalten</translation>
    </message>
    <message>
        <source>Level below</source>
        <translation>Pegel unter</translation>
    </message>
    <message>
        <source>Lasting at least</source>
        <translation>Dauer mindestens</translation>
    </message>
    <message>
        <source>Margin</source>
        <translation>Rand</translation>
    </message>
    <message>
        <source>Find</source>
        <translation>Suchen</translation>
    </message>
    <message>
        <source>Waiting for the waveform…</source>
        <translation>Warten auf die Wellenform…</translation>
    </message>
    <message>
        <source>1 segment of sound</source>
        <translation>1 Segment mit Ton</translation>
    </message>
    <message>
        <source>%1 segments of sound</source>
        <translation>%1 Segmente mit Ton</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Usage: orvane [FILE]
Saves the sound track of a video or audio file as a PCM WAV file.

  FILE           a media file to open at start
  -h, --help     show this help and exit
      --version  show the version and exit

Qt&apos;s own options (-platform NAME, -style NAME ...) work as in any Qt program.
orvane-extract does the same conversion from a terminal. See orvane(1).
</source>
        <translation>Aufruf: orvane [DATEI]
Speichert die Tonspur einer Video- oder Audiodatei als PCM-WAV-Datei.

  DATEI          eine Mediendatei, die beim Start geöffnet wird
  -h, --help     diese Hilfe zeigen und beenden
      --version  die Version zeigen und beenden

Die Optionen von Qt (-platform NAME, -style NAME ...) gelten wie in jedem Qt-Programm.
orvane-extract führt dieselbe Konvertierung im Terminal aus. Siehe orvane(1).
</translation>
    </message>
</context>
</TS>
