// Files: a snapshot drawn on a canvas is saved, copied and deleted; folders
// and sound files are picked in the host's dialogs; a file the demo serves is
// downloaded into a folder fixed with setDownloadPath(). The host's transcript shows
// each "showTip" and "afterSnapshot" notice.
(function () {
    'use strict';

    // Given by the demo host: a scratch folder and the URL of a served file.
    var info = window.demoFiles || { folder: '/tmp/tavi-demo-files', downloadUrl: '' };
    var paths = {
        snapshot: info.folder + '/snapshots/channel-1.jpg',
        copy: info.folder + '/export/channel 1 copy.jpg',
        downloads: info.folder + '/downloads',
    };
    var canvas, out, bar;

    // A made-up camera frame with the time on it.
    function drawFrame() {
        var g = canvas.getContext('2d');
        var grad = g.createLinearGradient(0, 0, canvas.width, canvas.height);
        grad.addColorStop(0, '#1d3557');
        grad.addColorStop(1, '#457b9d');
        g.fillStyle = grad;
        g.fillRect(0, 0, canvas.width, canvas.height);
        g.fillStyle = '#a8dadc';
        g.fillRect(40, 70, 90, 60);
        g.fillStyle = '#e63946';
        g.beginPath();
        g.arc(220, 80, 28, 0, 2 * Math.PI);
        g.fill();
        g.fillStyle = '#fff';
        g.font = '14px sans-serif';
        g.fillText('Channel 1  ' + new Date().toISOString().replace('T', ' ').slice(0, 19), 10, 20);
    }

    async function snapshot(tavi) {
        drawFrame();
        var time = Math.floor(Date.now() / 1000);
        var r = await Demo.run('saveSnapshot(data URL, "channel-1", ' + time + ', ' + paths.snapshot + ')',
                               tavi.saveSnapshot(canvas.toDataURL('image/jpeg', 0.9), 'channel-1', time,
                                                 paths.snapshot));
        out.textContent = 'snapshot ' + (r === 0 ? 'saved to ' + paths.snapshot : 'failed (' + r + ')');
    }

    // The copy's progress (long copies only) and each order's outcome.
    async function copy(tavi) {
        var orders = [{ sourceFile: paths.snapshot, targetFile: paths.copy }];
        bar.value = 0;
        bar.hidden = false;
        var outcomes = await Demo.run('copyFiles(' + JSON.stringify(orders) + ')',
                                      tavi.copyFiles(orders, { onProgress: function (p) {
                                          bar.max = p.total;
                                          bar.value = p.done;
                                      } }));
        bar.value = bar.max;
        out.textContent = (outcomes || []).map(function (o) {
            return o.outcome === 'written' ? 'copied to ' + o.targetFile + ' (the host shows a tip for it)'
                                           : o.outcome + ': ' + (o.why || '');
        }).join('; ') || 'copied (this host tells no outcomes)';
    }

    async function remove(tavi) {
        var list = [paths.snapshot, paths.copy];
        await Demo.run('deleteFiles(' + JSON.stringify(list) + ')', tavi.deleteFiles(list));
        out.textContent = 'deleted ' + list.join(', ');
    }

    async function browse(tavi, what, start, input) {
        var r = await Demo.run(what + '(' + JSON.stringify(start) + ')',
                               what === 'browseFolder' ? tavi.browseFolder(start) : tavi.browseFile(start));
        if (input) input.value = r;
        out.textContent = what + ': ' + (r || '(cancelled)');
    }

    // A real download: a link to the file that the demo host serves.
    async function download(tavi, folder) {
        await Demo.run('setDownloadPath(' + JSON.stringify(folder) + ')', tavi.setDownloadPath(folder));
        if (!info.downloadUrl) {
            out.textContent = 'no download server';
            return;
        }
        Demo.log('download ' + info.downloadUrl, 'call');
        var link = Demo.el('a', { href: info.downloadUrl, download: 'report.pdf' });
        document.body.append(link);
        link.click();
        link.remove();
        out.textContent = 'downloading report.pdf; the host shows where it goes';
        await Demo.sleep(1500);
    }

    Demo.section({
        id: 'files',
        title: 'Files',
        text: 'saveSnapshot() stores the canvas as a file, copyFiles() exports it, deleteFiles() ' +
              'removes it. browseFolder() / browseFile() open the host\'s dialogs; downloads go ' +
              'to the folder fixed with setDownloadPath(), or where the save dialog says.',
        build: function (el, tavi) {
            canvas = Demo.el('canvas', { width: 320, height: 180, style: 'width:100%;border-radius:4px' });
            out = Demo.out();
            bar = Demo.el('progress', { max: 1, value: 0, hidden: true, style: 'width:100%' });
            var folder = Demo.el('input', { value: info.folder });
            el.append(canvas, Demo.row([
                Demo.button('Snapshot', function () { snapshot(tavi); }),
                Demo.button('Copy', function () { copy(tavi); }),
                Demo.button('Delete', function () { remove(tavi); }, 'secondary'),
            ]), bar, Demo.row([
                folder,
                Demo.button('Folder…', function () { browse(tavi, 'browseFolder', folder.value, folder); }),
                Demo.button('Sound…', function () { browse(tavi, 'browseFile', '', null); }),
            ]), Demo.row([
                Demo.button('Download here', function () { download(tavi, folder.value); }),
                Demo.button('Download (ask)', function () { download(tavi, ''); }, 'secondary'),
            ]), out);
        },
        tour: async function (tavi) {
            await download(tavi, paths.downloads);
            await snapshot(tavi);
            await copy(tavi);
            // The dialogs only where the host answers them (headless runs).
            if (info.answeredDialogs) {
                await browse(tavi, 'browseFolder', '', null);
                await browse(tavi, 'browseFile', '', null);
                await download(tavi, '');
            }
            await remove(tavi);
            out.textContent = 'tour done: downloaded to ' + paths.downloads +
                              ', snapshot saved, copied, then both deleted';
        },
    });
})();
