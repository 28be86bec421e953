// Files: a snapshot drawn on a canvas is saved with AfterSnapshot, copied
// with CopyFileFunc and deleted with DelFileFunc; folders and sound files are
// picked in the host's dialogs; a file the demo serves is downloaded into a
// folder fixed with SetDownloadPath. The host panel shows each "showTip" and
// "afterSnapshot" notice.
(function () {
    'use strict';

    // Given by the demo host: a scratch folder and the URL of a served file.
    var info = window.demoFiles || { folder: '/tmp/tavi-demo-files', downloadUrl: '' };
    var paths = {
        snapshot: info.folder + '/snapshots/channel-1.jpg',
        copy: info.folder + '/export/channel 1 copy.jpg',
        downloads: info.folder + '/downloads',
    };
    var canvas, out;

    function show(text) {
        out.textContent = text;
    }

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

    function snapshot() {
        drawFrame();
        var time = Math.floor(Date.now() / 1000);
        Demo.log('AfterSnapshot(data URL, "channel-1", ' + time + ', ' + paths.snapshot + ')', 'call');
        return Demo.call('AfterSnapshot', canvas.toDataURL('image/jpeg', 0.9), 'channel-1', time,
                         paths.snapshot).then(function (r) {
            Demo.log('AfterSnapshot returned ' + r, 'call');
            show('snapshot ' + (r === 0 ? 'saved to ' + paths.snapshot : 'failed (' + r + ')'));
        });
    }

    function copy() {
        var orders = JSON.stringify([{ sourceFile: paths.snapshot, targetFile: paths.copy }]);
        Demo.log('CopyFileFunc(' + orders + ')', 'call');
        return Demo.call('CopyFileFunc', orders).then(function () {
            show('copied to ' + paths.copy + ' (the host shows a tip for it)');
        });
    }

    function remove() {
        var list = JSON.stringify([paths.snapshot, paths.copy]);
        Demo.log('DelFileFunc(' + list + ')', 'call');
        return Demo.call('DelFileFunc', list).then(function () { show('deleted ' + list); });
    }

    function browse(method, start, input) {
        Demo.log(method + '(' + JSON.stringify(start) + ')', 'call');
        return Demo.call(method, start).then(function (r) {
            Demo.log(method + ' returned ' + JSON.stringify(r), 'call');
            if (input) input.value = r;
            show(method + ': ' + (r || '(cancelled)'));
        });
    }

    function setDownloadFolder(folder) {
        Demo.log('SetDownloadPath(' + JSON.stringify(folder) + ')', 'call');
        return Demo.call('SetDownloadPath', folder);
    }

    // A real download: a link to the file that the demo host serves.
    function download() {
        if (!info.downloadUrl) {
            show('no download server');
            return Promise.resolve();
        }
        Demo.log('download ' + info.downloadUrl, 'call');
        var link = Demo.el('a', { href: info.downloadUrl, download: 'report.pdf' });
        document.body.appendChild(link);
        link.click();
        link.remove();
        show('downloading report.pdf; the host shows where it goes');
        return Demo.sleep(1500);
    }

    Demo.section({
        id: 'files',
        title: 'Files',
        text: 'AfterSnapshot stores the canvas as a file, CopyFileFunc exports it, DelFileFunc ' +
              'removes it. BrowseFilePath / BrowseFile open the host\'s dialogs; downloads go ' +
              'to the folder fixed with SetDownloadPath, or where the save dialog says.',
        build: function (el) {
            canvas = Demo.el('canvas', { width: 320, height: 180,
                                         style: 'width:100%;border-radius:4px' });
            out = Demo.el('pre', { class: 'out', text: '—' });
            var folder = Demo.el('input', { value: info.folder });
            var btn = function (text, f, cls) {
                return Demo.el('button', { text: text, class: cls || '', onclick: f });
            };
            el.appendChild(canvas);
            el.appendChild(Demo.el('div', { class: 'row' }, [
                btn('Snapshot', snapshot), btn('Copy', copy), btn('Delete', remove, 'secondary'),
            ]));
            el.appendChild(Demo.el('div', { class: 'row' }, [
                folder,
                btn('Folder…', function () { browse('BrowseFilePath', folder.value, folder); }),
                btn('Sound…', function () { browse('BrowseFile', '', null); }),
            ]));
            el.appendChild(Demo.el('div', { class: 'row' }, [
                btn('Download here', function () {
                    setDownloadFolder(folder.value).then(download);
                }),
                btn('Download (ask)', function () { setDownloadFolder('').then(download); },
                    'secondary'),
            ]));
            el.appendChild(out);
        },
        tour: function () {
            // The download first: it lands while the other steps run.
            var steps = setDownloadFolder(paths.downloads).then(download)
                .then(snapshot).then(copy);
            // The dialogs only where the host answers them (headless runs).
            if (info.answeredDialogs) {
                steps = steps
                    .then(function () { return browse('BrowseFilePath', '', null); })
                    .then(function () { return browse('BrowseFile', '', null); })
                    .then(function () { return setDownloadFolder(''); })
                    .then(download);
            }
            return steps.then(remove).then(function () {
                show('tour done: downloaded to ' + paths.downloads + ', snapshot saved, ' +
                     'copied, then both deleted');
            });
        },
    });
})();
