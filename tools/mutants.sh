#!/usr/bin/env bash
# Shows which faults the test suite catches. Each mutant below is one careless edit to the
# engine, the command line, the window, the platform layer or the shell; they are applied one at a time
# to a copy of the working tree, which is rebuilt and tested, and the copy's file is restored
# before the next one.
#
#   tools/mutants.sh            every mutant (two hours or more on two cores)
#   tools/mutants.sh E05 C07    only these
#   tools/mutants.sh --check    only whether every mutant still applies; builds nothing
#
# Run by hand, not from scripts/test.sh. The copy and its Release build (no sanitizers, no
# benchmarks) live in build/mutants, so the working tree may be edited meanwhile and a
# mutant can never be left behind in it. tst_xwindow and the installation test are not run:
# no mutant touches what only they check (the X server's view of the window, the installed
# layout), and they are the slowest. A mutant whose text no longer occurs exactly once is
# "stale": the code moved on and the mutant must be rewritten, it is never counted.
set -uo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
repo=$(pwd -P)
work=$repo/build/mutants
tree=$work/tree
bin=$work/build
logs=$work/logs

# id <TAB> file <TAB> the fault <TAB> text <TAB> replacement; "⏎" stands for a line break.
# The text must occur exactly once in the file.
read -r -d '' MUTANTS <<'EOF'
E01	src/engine/MaskRule.cpp	alpha threshold exclusive	if (a <= alpha)	if (a < alpha)
E02	src/engine/MaskRule.cpp	fuzz comparison exclusive	std::abs(r - key[k * 3]) <= fuzz	std::abs(r - key[k * 3]) < fuzz
E03	src/engine/MaskRule.cpp	red and blue swapped in BMP rows	p.background(in[2], in[1], in[0],	p.background(in[0], in[1], in[2],
E04	src/engine/BmpSource.cpp	file's row order inverted	m_fileBottomUp = m_bmp.height > 0;	m_fileBottomUp = m_bmp.height < 0;
E05	src/engine/BmpSource.cpp	blocks of rows taken from the wrong end of the file	const qint64 at = m_bmp.offset + lowest * rowBytes;	const qint64 at = m_bmp.offset + (m_height - n - lowest) * rowBytes;
E06	src/engine/MaskWriter.cpp	BMP mask row padding one too many	qsizetype(((qint64(width) * depth + 31) / 32) * 4)	qsizetype(((qint64(width) * depth + 32) / 32) * 4)
E07	src/engine/FileJob.cpp	keep rule inverted	if (existing == Existing::Keep && entryExists(output))	if (existing == Existing::Replace && entryExists(output))
E08	src/engine/BmpSource.cpp	BMP not checked for change after its rows	void finish() override { m_file.checkUnchanged(); }	void finish() override {}
E09	src/engine/FileJob.cpp	stop ignored	return observer->stopRequested();	return false;
E10	src/engine/BmpSource.cpp	cut-off RLE stream read as ends of lines	        throw damaged(m_path, QStringLiteral("is cut short"));⏎    return b;	        return 0;⏎    return b;
E11	src/engine/BmpSource.cpp	RLE end one row early accepted	if (m_rowsMade < m_height)	if (m_rowsMade < m_height - 1)
E12	src/engine/PictureChecks.cpp	palette past the end not checked	        if (tablesEnd > b.size())⏎            throw damaged(path, QStringLiteral("has a palette that runs past its end"));⏎
E13	src/engine/PictureChecks.cpp	pixel offset inside the header accepted	if (bmp.offset < tablesEnd)	if (bmp.offset < 14)
E14	src/engine/PictureChecks.cpp	pixel data one row short accepted	} else if (bmp.rowBytes() * bmp.rows() > data) {	} else if (bmp.rowBytes() * (bmp.rows() - 1) > data) {
E15	src/engine/GifSource.cpp	GIF colour table half its size	m_colours = map->ColorCount;	m_colours = map->ColorCount / 2;
E16	src/engine/BmpSource.cpp	plain BMP rows in the file's order, not the band's	stride = qsizetype(forwards ? rowBytes : -rowBytes);⏎    return forwards ? rows : rows + (n - 1) * rowBytes;	stride = qsizetype(rowBytes);⏎    return rows;
E17	src/engine/PictureIO.cpp	BMP written top-down	image.constScanLine(int(h - 1 - (y0 + r)))	image.constScanLine(int(y0 + r))
E18	src/engine/JpegSource.cpp	libjpeg warnings ignored	if (level < 0)	if (false)
E19	src/engine/PngSource.cpp	alpha kept when not asked for	if (layout != RowLayout::Bgra32 && m_alpha)	if (layout == RowLayout::Bgr24 && m_alpha)
E20	src/engine/PngSource.cpp	PNG channels swapped	        png_set_bgr(png);⏎	
E21	src/engine/MaskWriter.cpp	1-bit pixels in the wrong bit order	<< (7 - k));	<< k);
E22	src/engine/MaskWriter.cpp	BMP mask rows unpadded	qsizetype(((qint64(width) * depth + 31) / 32) * 4)	qsizetype((qint64(width) * depth + 7) / 8)
E23	src/engine/MaskWriter.cpp	1-bit palette with two mask colours	qToLittleEndian<quint32>(transparent & 0xFFFFFF, m_header + 58);	qToLittleEndian<quint32>(mask & 0xFFFFFF, m_header + 58);
E24	src/engine/MaskWriter.cpp	24-bit PNG red from blue	            if (depth != 1)⏎                png_set_bgr(m_png);	            if (depth == 1)⏎                png_set_bgr(m_png);
E25	src/engine/MaskScan.cpp	refresh one pixel late	for (qint64 k = RefreshEvery - 1; k < total; k += RefreshEvery)	for (qint64 k = RefreshEvery; k < total; k += RefreshEvery)
E26	src/engine/RunUtils.cpp	suffix at the first dot	const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));	const qsizetype dot = path.indexOf(QLatin1Char('.'));
E27	src/engine/RunUtils.cpp	suffix at a dot of the folder	return dot > slash + 1 ? dot : path.size();	return dot >= 0 ? dot : path.size();
E28	src/engine/MaskRun.cpp	no-consent write replaces	            if (!question)⏎                existing = Existing::Keep;	            if (!question)⏎                existing = Existing::Replace;
E29	src/engine/MaskRun.cpp	skipped files not counted	            ++skipped;⏎	
E30	src/engine/FileOps.cpp	exclusive create replaced by a replacing one	    if (m_existing == Existing::Keep)⏎        linkInPlace(self);	    if (m_existing == Existing::Keep)⏎        replaceInPlace(self);
E31	src/engine/FileOps.cpp	read-only mask replaced	if (!userMayWrite(m_target, st))	if (false)
E32	src/engine/FileOps.cpp	line break not escaped	out += c == u'\n'   ? QStringLiteral("\\n")	out += c == u'\n'   ? QStringLiteral("\n")
E33	src/engine/FileOps.cpp	file written to while read not noticed	identityOf(now) == m_identity &&	true &&
E34	src/engine/BmpSource.cpp	BMP index one past the palette accepted	if (highest >= m_colours)	if (highest > m_colours)
E35	src/engine/PngSource.cpp	PNG index one past the palette accepted	if (top >= m_colours)	if (top > m_colours)
E36	src/engine/GifSource.cpp	GIF index check one bit too wide	if ((any & ~(m_colours - 1)) != 0) {	if ((any & ~(2 * m_colours - 1)) != 0) {
E37	src/engine/TgaSource.cpp	TGA index one past the colour map accepted	>= d.mapCount);	> d.mapCount);
E38	src/engine/TgaSource.cpp	TGA rows read upside down	return m_fileTopDown ? y : m_height - 1 - y;	return m_fileTopDown ? m_height - 1 - y : y;
E39	src/engine/BmpSource.cpp	run-length rows placed top-down	m_topDown = !m_fileBottomUp;	m_topDown = m_fileBottomUp;
E40	src/engine/MaskWriter.cpp	BMP sink stores top-down bands in their own order	return m_dy > 0 ? m_bandRows - 1 - r : r;	return r;
E41	src/engine/BmpSource.cpp	32-bit BMP's padding byte taken for alpha	px[x] = qFromLittleEndian<quint32>(in + 4 * x) | 0xFF000000u;	px[x] = qFromLittleEndian<quint32>(in + 4 * x);
E42	src/engine/PngSource.cpp	PNG warnings about critical chunks ignored	if (ancillary && chunk != TrnsChunk)	if (true)
E43	src/engine/GifSource.cpp	GIF logical screen size not checked	    checkDeclaredSize(path, m_width, m_height, file.size());⏎	
E44	src/engine/FileOps.cpp	another file put in the sprite's place not noticed	qint64(named.st_ino) == m_identity.inode	true
E45	src/engine/FileOps.cpp	modification time not compared	qint64(st.st_mtim.tv_sec),⏎            qint64(st.st_mtim.tv_nsec)};	0,⏎            0};
E46	src/engine/FileJob.cpp	gathered bits in the wrong bit order	bits[x / 8] |= uchar(0x80 >> (x % 8));	bits[x / 8] |= uchar(1 << (x % 8));
E47	src/engine/MaskWriter.cpp	1-bit PNG palette entries swapped	{png_byte(qRed(mask)), png_byte(qGreen(mask)), png_byte(qBlue(mask))},⏎                    {png_byte(qRed(transparent)), png_byte(qGreen(transparent)),⏎                     png_byte(qBlue(transparent))}};	{png_byte(qRed(transparent)), png_byte(qGreen(transparent)),⏎                     png_byte(qBlue(transparent))},⏎                    {png_byte(qRed(mask)), png_byte(qGreen(mask)), png_byte(qBlue(mask))}};
E48	src/engine/JpegSource.cpp	JPEG memory cap removed	    m_info.mem->max_memory_to_use = long(BaseMemory + MemoryPerFileByte * m_file.size());⏎	
E49	src/engine/GifSource.cpp	GIF palette in RGB32 keeps its transparent alpha	return layout == RowLayout::Bgrx32 ? c | 0xFF000000u : quint32(c);	return quint32(c);
C01	cli/OptionValues.cpp	255 refused	return v <= 255 ? v : -1;	return v < 255 ? v : -1;
C02	cli/OptionValues.cpp	colour channels swapped	return Colour(r | (g << 8) | (b << 16));	return Colour(b | (g << 8) | (r << 16));
C03	cli/SpriteFinder.cpp	-r inverted	if (m_recursive && !output)	if (!m_recursive && !output)
C04	cli/MaskPlanner.cpp	--overwrite inverted	if (m_overwrite)⏎        p.existing	if (!m_overwrite)⏎        p.existing
C05	cli/MaskPlanner.cpp	--update compares the wrong way	? a.st_mtim.tv_sec > b.st_mtim.tv_sec	? a.st_mtim.tv_sec < b.st_mtim.tv_sec
C06	cli/OptionValues.cpp	bad usage exits 1	return int(MaskCommand::BadUsage);	return int(MaskCommand::SomeNotMasked);
C07	cli/MaskCommand.cpp	failures exit 0	: tally.failed ? int(MaskCommand::SomeNotMasked)	: tally.failed ? int(MaskCommand::AllMasked)
C08	cli/MaskPlanner.cpp	-o -r flattens the folders	: m_outputDir + QLatin1Char('/') + in.subfolder;	: m_outputDir;
C09	cli/SpriteFinder.cpp	--null ignored	all.split(m_null ? '\0' : '\n')	all.split('\n')
C10	cli/Console.cpp	names printed unescaped	qPrintable(printableName(line) + QLatin1Char('\n'))	qPrintable(line + QLatin1Char('\n'))
C11	cli/BatchRunner.cpp	failures on standard error	        out(QStringLiteral("failed ") + p.sprite	        m_console.err(QStringLiteral("failed ") + p.sprite
C12	src/engine/RunUtils.cpp	masks of an earlier run masked again	fileName.left(extensionAt(fileName)).endsWith(suffix);	fileName.endsWith(suffix);
P01	src/platform/FileLists.cpp	browse lists hidden files	entryInfoList(QDir::Files | QDir::NoDotAndDotDot)	entryInfoList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot)
P02	src/platform/FileLists.cpp	browse sorts capitals first	return QString::compare(a, b, Qt::CaseInsensitive) < 0;	return QString::compare(a, b, Qt::CaseSensitive) < 0;
P03	src/platform/FileLists.cpp	a subfolder opens its parent	item->setData(Qt::UserRole, QDir(clean).filePath(sub));	item->setData(Qt::UserRole, clean);
P04	src/platform/Settings.cpp	unsaved settings never told	    if (s.status() == QSettings::NoError || n.told)	    if (true || n.told)
P05	src/platform/Settings.cpp	a stored 0 read as on	        return n != 0;	        return n == 0;
P06	src/platform/Settings.cpp	sections share their keys	    return section + QLatin1Char('/') + key;	    return key;
P07	src/platform/Attention.cpp	flash count ignored	const qint64 total = (qint64(times) * 2 + 1) * qint64(milliseconds);	const qint64 total = qint64(milliseconds);
P08	src/platform/Attention.cpp	sounds looked up beside the program	desktop().playSound(programFilesPath() + QStringLiteral("snd/") + fileName);	desktop().playSound(programFilesPath() + fileName);
P09	src/platform/ProgramFiles.cpp	installed data folder ignored	QString dir = QFileInfo(installed).isDir() ? installed : exeDir;	QString dir = exeDir;
P10	src/platform/PictureSurface.cpp	eyedropper reads past the picture	    if (!m_image.valid(x, y))⏎        return NoColour;	    if (false)⏎        return NoColour;
P11	src/platform/PictureSurface.cpp	a smaller picture leaves the last one behind	        m_image.fill(toQRgb(m_backColor));⏎        QPainter(&m_image).drawImage(0, 0, rgb);	        QPainter(&m_image).drawImage(0, 0, rgb);
P12	src/platform/PictureSurface.cpp	right button taken for the left	    case Qt::RightButton: return 2;	    case Qt::RightButton: return 1;
P13	src/platform/WindowLook.cpp	fractional font sizes truncated	    f.setPointSizeF(points);	    f.setPointSize(int(points));
P14	src/platform/EndSignals.cpp	SIGTERM not caught	constexpr int Handled[] = {SIGTERM, SIGHUP, SIGINT};	constexpr int Handled[] = {SIGHUP, SIGINT};
S01	src/shell/modMain.cpp	colour's blue and red swapped	    blue = qint16(std::min<qint64>(255, rest / 65536));	    red = qint16(std::min<qint64>(255, rest / 65536));
S02	src/shell/modMain.cpp	exit without asking	    if (!ask(mainWindow, QStringLiteral("Do you really want to exit?")))⏎        return false;	
S03	src/shell/modMain.cpp	suffix not stored at the end	    SaveSetting(QStringLiteral("sys"), QStringLiteral("suffix"), suffix);⏎	
S04	src/shell/modMain.cpp	log kept in a read-only program folder	    if (beside.isDir() && beside.isWritable()) {	    if (beside.isDir()) {
S05	src/shell/modHyperLink.cpp	the mail link without its subject	EmailAddress + QStringLiteral(" ?subject=Pelloran ") +	EmailAddress + QStringLiteral("") +
S06	src/shell/modHyperLink.cpp	a link that fails to open is not told	    if (!desktop().openUrl(url))⏎        tellCannotOpen(parent, Target);	    desktop().openUrl(url);
E50	src/engine/RunError.cpp	a full disk reported as a system error	    case EDQUOT:⏎    case EFBIG: return of(DiskFull, detail);	    case EDQUOT:⏎    case EFBIG: return of(SystemError, detail);
E51	src/engine/RunError.cpp	missing folder reported as permission	    case ENOTDIR: return of(PathNotFound, detail);	    case ENOTDIR: return of(PermissionDenied, detail);
E52	src/engine/RunError.cpp	unknown errors called permission denied	    default: return of(SystemError, detail);	    default: return of(PermissionDenied, detail);
E53	src/engine/clsDebug.cpp	log lines end in a bare line feed	QStringLiteral("] ") + Msg + QStringLiteral("\r\n");	QStringLiteral("] ") + Msg + QStringLiteral("\n");
E54	src/engine/clsDebug.cpp	the earlier log not kept as a backup	    if (BackupOld && QFileInfo(path).isFile())⏎        copyFileReplacing(path, path + QStringLiteral(".bak"));	
E55	src/engine/clsDebug.cpp	error number left out of the log	Print_(Msg + QStringLiteral(" (Err#") + QString::number(error.number()) + QStringLiteral(": ") +	Print_(Msg + QStringLiteral(" (Err#") + QStringLiteral(": ") +
E56	src/engine/PictureSource.cpp	GIF87a not read	    if (head.startsWith("GIF87a") || head.startsWith("GIF89a"))	    if (head.startsWith("GIF89a"))
E57	src/engine/PictureSource.cpp	a short read of the stream repeats old bytes	            if (m_end == 0)⏎                break;	            if (m_end == 0)⏎                return n;
E58	src/engine/PictureSource.cpp	stream repeats a byte at each refill	    m_position += m_end;	    m_position += m_end - 1;
E59	src/engine/PixelRows.cpp	scalar tail of a row keeps red and blue swapped	        out[3 * x] = uchar(qBlue(in[x]));⏎        out[3 * x + 1] = uchar(qGreen(in[x]));⏎        out[3 * x + 2] = uchar(qRed(in[x]));	        out[3 * x] = uchar(qRed(in[x]));⏎        out[3 * x + 1] = uchar(qGreen(in[x]));⏎        out[3 * x + 2] = uchar(qBlue(in[x]));
E60	src/engine/PixelRows.cpp	vector mask rule inverted	    return _mm_shuffle_epi8(_mm_or_si128(_mm_and_si128(hit, m), _mm_andnot_si128(hit, t)), drop);	    return _mm_shuffle_epi8(_mm_or_si128(_mm_and_si128(hit, t), _mm_andnot_si128(hit, m)), drop);
E61	src/engine/PixelRows.cpp	scalar mask rule inverted	        const quint32 v = p == transparent ? mask : transparent;	        const quint32 v = p != transparent ? mask : transparent;
E62	src/engine/PixelRows.cpp	unpacked pixels not opaque	        out[x] = 0xFF000000u | (uint(in[3 * x + 2]) << 16) | (uint(in[3 * x + 1]) << 8) | in[3 * x];	        out[x] = (uint(in[3 * x + 2]) << 16) | (uint(in[3 * x + 1]) << 8) | in[3 * x];
C13	cli/Interruption.cpp	another host's part files removed	    if (at < 0 || tail.mid(at + 1) != partFileOwner().mid(partFileOwner().indexOf('@') + 1))	    if (at < 0)
C14	cli/Interruption.cpp	a live run's part file removed	pid == ::getpid() || ::kill(pid, 0) == 0 ||	pid == ::getpid() ||
C15	cli/Interruption.cpp	SIGHUP named SIGTERM	    case SIGHUP: return QStringLiteral("SIGHUP");	    case SIGHUP: return QStringLiteral("SIGTERM");
C16	cli/StreamMask.cpp	standard input read without end	if ((total += n) > bound)	if ((total += n) < 0)
C17	cli/StreamMask.cpp	a PNG on standard input gives a BMP mask	            const bool png = head.startsWith("\x89PNG\r\n\x1a\n");	            const bool png = false;
C18	cli/StreamMask.cpp	a short write to standard output ignored	        done += n;	        done = n;
C19	cli/Watcher.cpp	a sprite saved while watched keeps its old mask	    o.overwrite = true;	    o.overwrite = false;
C20	cli/Watcher.cpp	a folder moved into the tree not watched	if (folder->tree && (e->mask & (IN_CREATE | IN_MOVED_TO)))	if (folder->tree && (e->mask & IN_CREATE))
W01	cli/StreamMask.cpp	standard input's PNG mask of 24 bits by default	png ? 1 : 24;	png ? 24 : 24;
W02	cli/StreamMask.cpp	--dry-run - says its line on standard output	console.err(QStringLiteral("would mask - -> -"));	console.out(QStringLiteral("would mask - -> -"));
W03	cli/StreamMask.cpp	a sprite on standard input that cannot be read logged as a failed write	return fail(MaskRun::cantLoadEntry(Name), e);	return fail(MaskRun::failedEntry(Name), e);
W04	cli/StreamMask.cpp	a named scratch file kept	        ::unlink(name.constData());	
W05	cli/StreamMask.cpp	an interruption not looked for while a pipe is waited on	        if (Interruption::signal())⏎            throw Interrupted{};⏎        pollfd	        pollfd
W06	cli/StreamMask.cpp	a live run's scratch file removed	::kill(pid, 0) != 0 && errno == ESRCH &&	
W07	cli/StreamMask.cpp	an earlier version's scratch folder removed while in use	::time(nullptr) - st.st_mtime < 600)	::time(nullptr) - st.st_mtime < 0)
W08	cli/Watcher.cpp	files there at the start masked again by the watch	            watchTree(path, false);	            watchTree(path, true);
W09	cli/Watcher.cpp	a file still written to masked after the short quiet time	(writing ? WritingQuietMs : QuietMs)	QuietMs
W10	cli/WatchPlanner.cpp	after lost events, a sprite with an older time taken as unchanged	(m_known.value(p.sprite) == *now && entryExists(p.mask))	(m_known.value(p.sprite).mtime >= now->mtime && entryExists(p.mask))
W11	cli/Interruption.cpp	a second Ctrl-C waits like the first	SA_RESTART | SA_RESETHAND	SA_RESTART
E63	src/engine/MaskScan.cpp	cancelled percent from the wrong column	        result.percent = percentAt(pixel / rows);	        result.percent = percentAt(pixel);
E64	src/engine/MaskScan.cpp	scroll does not reach the end	                scroll = RunView::ScrollToEnd;	                scroll = s;
E65	src/engine/MaskScan.cpp	cancel before the first pixel not seen	    if (w.cancelRun())⏎        return cancelledAfter(0);	
E66	src/engine/MaskScan.cpp	status shows stale seconds	            showUpTo(k, maskingText(result.percent, result.elapsed),	            showUpTo(k, maskingText(result.percent, 0),
E67	src/engine/FileJob.cpp	a sprite already open that the memory cannot hold ends the run	    } catch (const std::bad_alloc &) {⏎        m_error = RunError::of(RunError::OutOfMemory, sprite.path());	    } catch (const std::length_error &) {⏎        m_error = RunError::of(RunError::OutOfMemory, sprite.path());
E68	src/engine/FileJob.cpp	a sprite the memory cannot hold ends the run	    } catch (const std::bad_alloc &) {⏎        // One sprite too large	    } catch (const std::length_error &) {⏎        // One sprite too large
E69	src/engine/MaskWriter.cpp	a failed PNG write leaves its exception handled for ever	        return;⏎    } catch (const RunError &e) {⏎        state->failure = e;⏎    }⏎	        return;⏎    } catch (const RunError &e) {⏎        state->failure = e;⏎        png_error(png, "write failed");⏎    }⏎
R01	src/engine/GifSource.cpp	GIF code width stops at 11 bits	if (m_running < MaxCode + 2 && ++m_running > m_limit && m_bits < 12) {	if (m_running < MaxCode + 2 && ++m_running > m_limit && m_bits < 11) {
R02	src/engine/GifSource.cpp	GIF interlace passes out of order	{{0, 8}, {4, 8}, {2, 4}, {1, 2}}	{{0, 8}, {2, 4}, {4, 8}, {1, 2}}
R03	src/engine/GifSource.cpp	a GIF extension's later sub-blocks not skipped	        while (block)⏎            if (DGifGetExtensionNext	        if (block)⏎            if (DGifGetExtensionNext
R04	src/engine/GifSource.cpp	GIF transparent index taken from the delay byte	transparent = (block[1] & 1) ? block[4] : -1;	transparent = (block[1] & 1) ? block[3] : -1;
R05	src/engine/GifSource.cpp	GIF frame's left taken from its top	m_left = d.Left;	m_left = d.Top;
R06	src/engine/GifSource.cpp	GIF frame's own colour table ignored	const ColorMapObject *map = d.ColorMap ? d.ColorMap : global;	const ColorMapObject *map = global;
R07	src/engine/BmpSource.cpp	RLE jump's y added to x	x = std::min(w, x + dx);	x = std::min(w, x + dy);
R08	src/engine/BmpSource.cpp	RLE absolute run padded by pixels, not bytes	if (bytes & 1)	if (code & 1)
R09	src/engine/BmpSource.cpp	RLE4 literal nibbles swapped	paint(std::min(2, code - 2 * i), uchar(b >> 4), uchar(b & 0x0F));	paint(std::min(2, code - 2 * i), uchar(b & 0x0F), uchar(b >> 4));
R10	src/engine/BmpSource.cpp	RLE jump skips one row too many	m_blankRows = dy - 1;	m_blankRows = dy;
R11	src/engine/BmpSource.cpp	RLE jump's x lost on the next row	m_startX = x;	m_startX = 0;
R12	src/engine/BmpSource.cpp	RLE4 odd absolute run one byte short	int bytes = four ? (code + 1) / 2 : code;	int bytes = four ? code / 2 : code;
R13	src/engine/PngSource.cpp	PNG palette entries past tRNS see-through	m_palette[i][3] = i < alphaCount ? alphas[i] : 0xFF;	m_palette[i][3] = i < alphaCount ? alphas[i] : 0;
R14	src/engine/MaskRule.cpp	16th key colour ignored	static constexpr int MaxKeys = 16;	static constexpr int MaxKeys = 15;
R15	src/engine/MaskWriter.cpp	BMP mask padding keeps the last sprite's bytes	        for (int r = 0; r < m_bandRows; ++r)⏎            std::memset(row(r) + used, 0, size_t(m_rowBytes - used));⏎	
R16	src/engine/MaskWriter.cpp	mask buffer not grown for a bigger sprite	    if (m_rows.size() < size_t(m_front + rows * m_rowBytes))	    if (m_rows.empty())
R17	src/engine/FileJob.cpp	row buffer not grown for a wider sprite	    m_row.resize(size_t(w) * 3);	    if (m_row.empty())⏎        m_row.resize(size_t(w) * 3);
U01	src/ui/FramePacer.cpp	a frame one interval late	return !m_holding || !m_lastFrame || m_clock() - *m_lastFrame >= m_interval;	return !m_holding || !m_lastFrame || m_clock() - *m_lastFrame > m_interval;
U02	src/ui/FramePacer.cpp	a batch's end not painted	    m_batch = false;⏎    m_holding = false;⏎    paint();	    m_batch = false;⏎    m_holding = false;
U03	src/ui/FramePacer.cpp	a batch's first frame waits for its time	    m_lastFrame.reset();⏎	
U04	src/ui/FramePacer.cpp	a slow file's counter not painted before it loads	now = slowFiles || frameDue();	now = frameDue();
U05	src/ui/FramePacer.cpp	a question asked over a held screen	    paint();⏎    return QScopedValueRollback	    return QScopedValueRollback
U06	src/ui/FramePacer.cpp	a view that replaces an unshown one drops its order to move the bars	    if (!scroll && m_pending)⏎        scroll = m_pending->scroll;	    if (false)⏎        scroll = m_pending->scroll;
U07	src/ui/frmMain_Run.cpp	the progress bar drawn in the mask colour	                              0xFF0000);	                              0x0000FF);
U08	src/ui/WindowRunHost.cpp	the log offered though it is not there	    if (!QFileInfo(logPath()).isFile()) {	    if (false) {
U09	src/ui/WindowRunHost.cpp	a question does not release the screen	    const auto released = m_w.m_pacer.release();⏎    forRest = false;	    forRest = false;
U10	src/ui/frmMain_Run.cpp	the wrong bar follows the scan	        HScrSprite->setValue(*view.scroll);	        HScrMask->setValue(*view.scroll);
U11	src/ui/frmMain_Run.cpp	Cancel leaves the window locked	    cmdCancel->setEnabled(false);⏎    ControlsEnabled(true);	    cmdCancel->setEnabled(false);
U12	src/ui/frmMain_Run.cpp	a second Mask All starts during a run	    if (m_running || !runCanStart())⏎        return;⏎    const QScopedValueRollback running(m_running, true);⏎    WindowRunHost host(*this);⏎    MaskRun run(host);⏎    m_pacer.batchStarted();	    if (!runCanStart())⏎        return;⏎    const QScopedValueRollback running(m_running, true);⏎    WindowRunHost host(*this);⏎    MaskRun run(host);⏎    m_pacer.batchStarted();
U13	src/ui/frmMain_Run.cpp	Mask Current of a sprite that failed to load	    if (!m_spriteLoaded) {	    if (CurrentFile.isEmpty()) {
U14	src/ui/frmMain_Run.cpp	the lock leaves untagged controls alone	        if (!t.tag.contains(QLatin1String("<d>")))⏎            continue;	
U15	src/ui/frmMain_Panes.cpp	a new transparency colour keeps the old mask colour	    picTColor->setBackColor(Color);⏎    SetMColor(complement(Color));	    picTColor->setBackColor(Color);
U16	src/ui/frmMain_Panes.cpp	eyedropper's buttons swapped	    if (buttons == 1)⏎        SetTColor(c);	    if (buttons == 2)⏎        SetTColor(c);
U17	src/ui/frmMain_Panes.cpp	vertical bars get the horizontal overhang	        setScrollRange(VScrSprite, picSprite->drawableHeight() - conSprite->drawableHeight());	        setScrollRange(VScrSprite, picSprite->drawableWidth() - conSprite->drawableWidth());
U18	src/ui/frmMain_Panes.cpp	colours picked during a run	    if (c == NoColour || m_running)	    if (c == NoColour)
U19	src/ui/frmMain_Files.cpp	a failed load still counts as loaded	    if (PicBox == picSprite)⏎        m_spriteLoaded = false;	
U20	src/ui/frmMain_Files.cpp	Save replaces a file without asking	    if (entryExists(name) && !ask(this,	    if (false && !ask(this,
U21	src/ui/frmMain_Files.cpp	Append Files empties the list	        filesAdded(dialog.Picked, BrowseMode == 1);	        filesAdded(dialog.Picked, true);
U22	src/ui/frmMain_Files.cpp	Clear list without asking	    if (!ask(this, QStringLiteral("Are you sure you want to clear the file list?")))⏎        return;	
U23	src/ui/frmMain_Files.cpp	the list's first file not shown	    if (lstFiles->count() >= 1)⏎        LoadPic(picSprite, lstFiles->itemText(0));	
U24	src/ui/frmBrowse.cpp	a stored folder that has gone opens nowhere	    if (!QDir(last).exists())⏎        last = QDir::homePath();	
U25	src/ui/frmBrowse.cpp	the browsed folder not remembered	    SaveSetting(QStringLiteral("sys"), QStringLiteral("lastpath"), Dir1->path());⏎	
U26	src/ui/frmSave.cpp	a quoted name keeps its quotes	        return literal.remove(QLatin1Char('"'));	        return literal;
U27	src/ui/frmSave.cpp	"(none)" added as an extension	    if (!name.contains(extension) && extension.trimmed().toLower() != QLatin1String("(none)"))	    if (!name.contains(extension))
U28	src/ui/frmPickColor.cpp	Cancel returns the colour under the cursor	        CurrColor = NoColour;⏎        reject();	        reject();
U29	src/ui/DialogLook.cpp	a drive that cannot be opened leaves the box on it	        if (!Dir1->setPath(drive))⏎            Drive1->setDriveOf(Dir1->path());	        Dir1->setPath(drive);
S07	src/shell/frmAbout.cpp	System Info reported unavailable though it started	        if (!path.isEmpty() && desktop().startDetached(path, {}))⏎            return;	        if (!path.isEmpty())⏎            desktop().startDetached(path, {});
U30	src/ui/frmMain.cpp	a close the user takes back forgets the options	void frmMain::closeEvent(QCloseEvent *event)⏎{⏎    SaveSettings();	void frmMain::closeEvent(QCloseEvent *event)⏎{
U31	src/ui/frmMain.cpp	a stored menu option read as on whatever it says	                GetSetting(SettingsSection, item->objectName(), QStringLiteral("True")), true));	                QStringLiteral("True"), true));
U32	src/ui/frmMain.cpp	the suffix box not stored	    SaveSetting(SettingsSection, txtSuffix->objectName(), txtSuffix->text());⏎}	}
U33	src/ui/frmMain.cpp	a close refused still closes	    if (quit)⏎        event->accept();⏎    else⏎        event->ignore();	    event->accept();
U34	src/ui/frmMain_Files.cpp	a sprite the memory cannot hold ends the window	    } catch (const std::bad_alloc &) {⏎        // A sprite too large	    } catch (const std::length_error &) {⏎        // A sprite too large
C21	cli/MaskPlanner.cpp	-u: a mask as new as its sprite replaced	a.st_mtim.tv_nsec > b.st_mtim.tv_nsec	a.st_mtim.tv_nsec >= b.st_mtim.tv_nsec
C22	cli/MaskPlanner.cpp	-u: seconds compared the wrong way	a.st_mtim.tv_sec != b.st_mtim.tv_sec ?	a.st_mtim.tv_sec == b.st_mtim.tv_sec ?
C23	cli/SpriteFinder.cpp	-o -r: folders two deep flattened	subfolder.isEmpty() ? sub :	!subfolder.isEmpty() ? sub :
C24	cli/MaskPlanner.cpp	--dry-run -o makes the output folder	m_outputDir.isEmpty() || m_dryRun	m_outputDir.isEmpty() && m_dryRun
C25	cli/SpriteFinder.cpp	links in a walked folder followed	::lstat(full.constData(), &st)	::stat(full.constData(), &st)
C26	cli/MaskPlanner.cpp	a file named twice masked twice	seen.insert(in.sprite);	seen.insert(in.subfolder);
C27	cli/BatchRunner.cpp	left-out lines on the wrong stream	out(QStringLiteral("left out ")	m_console.err(QStringLiteral("left out ")
C28	cli/BatchRunner.cpp	-q ignored	else if (!m_options.quiet)⏎            out(QStringLiteral("left out ")	else if (true)⏎            out(QStringLiteral("left out ")
C29	cli/MaskCommand.cpp	an interrupted run exits with the bare signal	signal         ? 128 + signal	signal         ? 0 + signal
C30	cli/BatchRunner.cpp	a closed pipe taken for an interrupted call	errno == EPIPE	errno == EINTR
C31	src/engine/FileOps.cpp	a read-only mask replaced	W_OK, AT_EACCESS	F_OK, AT_EACCESS
C32	cli/MaskCommand.cpp	an unwritable log reported as success	return 1;	return 0;
C33	cli/SpriteFinder.cpp	an unreadable folder called missing	RunError::fromErrno(error, fileNameFromBytes(folder))	RunError::fromErrno(ENOENT, fileNameFromBytes(folder))
C34	cli/MaskPlanner.cpp	-o in an unwritable folder not reported	::mkdir(raw.constData(), 0777) != 0 && errno != EEXIST	::mkdir(raw.constData(), 0777) != 0 && errno == EEXIST
C35	src/engine/RunUtils.cpp	--pattern minds letter case	QRegularExpression::CaseInsensitiveOption	QRegularExpression::NoPatternOption
C36	cli/Watcher.cpp	--watch with nothing to watch waits	if (m_fd < 0 || m_folders.isEmpty()) {	if (m_fd < 0 && m_folders.isEmpty()) {
C37	cli/Options.cpp	-j 0 accepted	o.jobs < 1	o.jobs < 0
C38	cli/Options.cpp	17 key colours accepted	rule.keys.size() > 16	rule.keys.size() > 17
C39	cli/OptionValues.cpp	-f 256 accepted	return v <= 255 ? v : -1;	return v <= 256 ? v : -1;
C40	cli/Options.cpp	-o '' accepted	in.value(OutputDir).isEmpty()	in.value(OutputDir).isNull()
C41	cli/Options.cpp	black taken for no mask colour	if (rule.mask == NoColour)	if (rule.mask == 0)
C42	src/engine/MaskRun.cpp	a suffix with a slash accepted	suffix.contains(QLatin1Char('/'))	suffix.contains(QLatin1Char('\\'))
C43	cli/BatchRunner.cpp	workers counted while they start	for (size_t w = 0; w < count; ++w)	for (size_t w = 0; w < batch.workersLeft; ++w)
C44	cli/MaskPlanner.cpp	a mask kept without a look reported up to date	        p.state = Plan::Kept;	        p.state = Plan::UpToDate;
C45	cli/OptionTable.cpp	-a in a bundle takes the next argument	if (row->aloneMeans)⏎                    out.last()	if (row->aloneMeans && !rest.isEmpty())⏎                    out.last()
C46	cli/MaskPlanner.cpp	a log over a hard link of a sprite	(sameName || logStat.st_nlink > 1)	(sameName)
C47	cli/MaskPlanner.cpp	an empty suffix's mask over another sprite	if (sprites.contains(p.mask)) {	if (p.mask == p.sprite) {
C48	cli/BatchRunner.cpp	a failed read logged as a failed write	log.Print_(job.failedReading() ?	log.Print_(!job.failedReading() ?
C49	cli/JsonLines.cpp	a byte that is no UTF-8 lost in --json	c == 0x7F || QChar::isSurrogate(c) ||	c == 0x7F ||
C50	cli/MaskCommand.cpp	a closed pipe not quiet	if (signal && signal != SIGPIPE)	if (signal)
EOF

# Writes mutant $2 into tree $1, or restores the file from its saved original with
# "restore". Prints the file's path; exits 3 when the mutant is stale.
mutate() {
    MUTANTS=$MUTANTS python3 - "$@" <<'PY'
import os, shutil, sys
tree, what = sys.argv[1], sys.argv[2]
rows = [l.split('\t') for l in os.environ['MUTANTS'].splitlines() if l.strip()]
if what == '--ids':
    print(' '.join(r[0] for r in rows)); sys.exit(0)
row = next((r for r in rows if r[0] == what), None)
if row is None:
    sys.exit(f'no mutant {what}')
ident, path, why, old, new = (row + [''])[:5]
old, new = old.replace('⏎', '\n'), new.replace('⏎', '\n')
target = os.path.join(tree, path)
saved = target + '.unmutated'
print(path)
if not os.path.isfile(target):
    print(f'{ident}: stale (no file {path})', file=sys.stderr)
    sys.exit(3)
text = open(target, encoding='utf-8').read()
n = text.count(old)
if n != 1:
    print(f'{ident}: stale ({n} matches in {path})', file=sys.stderr)
    sys.exit(3)
if len(sys.argv) > 3:  # --check
    sys.exit(0)
shutil.copyfile(target, saved)
with open(target, 'w', encoding='utf-8') as f:
    f.write(text.replace(old, new))
PY
}

describe() { printf '%s\n' "$MUTANTS" | awk -F'\t' -v id="$1" '$1 == id { print $2 ": " $3 }'; }

# The copy is brought up to date file by file, so that only what changed is rebuilt.
sync_tree() {
    mkdir -p "$tree"
    git ls-files -co --exclude-standard -z | python3 -c '
import filecmp, os, shutil, sys
tree = sys.argv[1]
keep = set()
for name in sys.stdin.buffer.read().split(b"\0"):
    if not name or not os.path.isfile(name):
        continue
    name = name.decode()
    keep.add(name)
    dst = os.path.join(tree, name)
    if not os.path.exists(dst) or not filecmp.cmp(name, dst, shallow=False):
        os.makedirs(os.path.dirname(dst) or ".", exist_ok=True)
        shutil.copyfile(name, dst)
        shutil.copymode(name, dst)
for root, _, files in os.walk(tree):
    for f in files:
        rel = os.path.relpath(os.path.join(root, f), tree)
        if rel not in keep:
            os.remove(os.path.join(root, f))
' "$tree"
}

current=""
restore() {
    if [[ -n $current && -f $tree/$current.unmutated ]]; then
        # A plain copy, so the file is newer than the mutant's objects and is rebuilt.
        cat "$tree/$current.unmutated" >"$tree/$current"
        rm -f "$tree/$current.unmutated"
    fi
    current=""
}

if [[ ${1:-} == --check ]]; then
    stale=0
    for id in $(mutate "$repo" --ids); do
        mutate "$repo" "$id" --check >/dev/null || stale=$((stale + 1))
    done
    echo "mutants: $stale stale"
    exit $((stale > 0))
fi

ids=("$@")
[[ ${#ids[@]} -gt 0 ]] || read -r -a ids <<<"$(mutate "$repo" --ids)"

scratch=$(mktemp -d)
trap 'restore; rm -rf "$scratch"' EXIT
trap 'exit 130' INT TERM
# shellcheck source=scripts/headless-env.sh
source "$repo/scripts/headless-env.sh"
pelloran_headless_env "$scratch"

# A fault in cli/ changes pelloran-mask alone, which only the tst_cli programs and the recipe
# run (and the installation test, left out as above): every other test would give the
# unmutated tree's result again.
build() { nice cmake --build "$bin" ${2:+--target "$2"} >"$1" 2>&1; }
suite() {
    ctest --test-dir "$bin" -j2 --timeout 180 --no-tests=error --stop-on-failure \
        -E '^(tst_xwindow|install)$' ${2:+-R "$2"} >"$1" 2>&1
}

sync_tree
mkdir -p "$logs"
rm -f "$logs"/*.log
# Leftovers of an interrupted run.
find "$tree" -name '*.unmutated' -exec sh -c 'cat "$1" >"${1%.unmutated}" && rm "$1"' _ {} \;
if [[ ! -f $bin/build.ninja ]]; then
    cmake -S "$tree" -B "$bin" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELLORAN_SANITIZE=OFF \
        -DPELLORAN_BENCH=OFF >"$logs/configure.log" 2>&1 || { cat "$logs/configure.log"; exit 2; }
fi
echo "mutants: building the unmutated tree in $bin"
build "$logs/base-build.log" || { tail -30 "$logs/base-build.log"; exit 2; }
echo "mutants: the suite must pass before any mutant counts"
suite "$logs/base-test.log" || { tail -30 "$logs/base-test.log"; exit 2; }

caught=0 total=0
survivors=() stale=() broken=()
i=0
for id in "${ids[@]}"; do
    i=$((i + 1))
    start=$SECONDS
    printf '[%2d/%d] %s %-62s ' "$i" "${#ids[@]}" "$id" "$(describe "$id")"
    if ! current=$(mutate "$tree" "$id" 2>"$logs/$id.log"); then
        [[ -f $tree/$current.unmutated ]] || current=""
        echo "STALE"
        stale+=("$id")
        continue
    fi
    target="" only=""
    [[ $current == cli/* ]] && target=pelloran-mask only='^(tst_cli.*|parallel_recipe)$'
    if ! build "$logs/$id.build.log" "$target"; then
        echo "does not build"
        broken+=("$id")
        restore
        continue
    fi
    total=$((total + 1))
    if suite "$logs/$id.log" "$only"; then
        echo "SURVIVED ($((SECONDS - start)) s)"
        survivors+=("$id")
    else
        caught=$((caught + 1))
        by=$(sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\) .*/\1/p' "$logs/$id.log" | sort -u | tr '\n' ' ')
        echo "caught by ${by:-the suite} ($((SECONDS - start)) s)"
    fi
    restore
done

for id in "${survivors[@]}"; do echo "survived: $id $(describe "$id")"; done
for id in "${stale[@]}"; do echo "stale: $id $(describe "$id")"; done
for id in "${broken[@]}"; do echo "does not build: $id $(describe "$id")"; done
# Leave the build as the working tree is.
build "$logs/final-build.log" || true
if ((total > 0)); then
    echo "mutants: $caught of $total caught ($((100 * caught / total)) %)"
else
    echo "mutants: none run"
fi
[[ ${#stale[@]} -eq 0 && ${#broken[@]} -eq 0 ]]
