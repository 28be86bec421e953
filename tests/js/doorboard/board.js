// A small page of a page author: every door channel with its state, kept up
// to date by the host's pushes, and an "open" button per door that asks the
// host and shows its answer.
'use strict';

(async function () {
    const list = document.getElementById('doors');
    const status = document.getElementById('status');
    const names = { 0: 'closed', 1: 'open', 2: 'alarm' };

    function show(devices) {
        list.replaceChildren(...devices.filter((d) => d.guid.startsWith('door-')).flatMap((d) =>
            d.info.map((c) => {
                const item = document.createElement('li');
                item.dataset.door = `${d.guid}/${c.channelId}`;
                const label = document.createElement('span');
                label.className = 'state';
                label.textContent = `${d.guid}/${c.channelId}: ${names[c.status] ?? c.status}`;
                const button = document.createElement('button');
                button.textContent = 'open';
                button.addEventListener('click', () => openDoor(d.guid, c.channelId));
                item.append(label, ' ', button);
                return item;
            })));
    }

    let tavi;
    async function openDoor(guid, channelId) {
        status.textContent = `asking to open ${guid}/${channelId}…`;
        try {
            const answer = JSON.parse(await tavi.notifyHost(JSON.stringify({ cmd: 'openDoor', guid, channelId }),
                                                            { timeoutMs: 60000 }));
            status.textContent = answer.opened ? `${guid}/${channelId} opened` : `${guid}/${channelId} refused: ${answer.why}`;
        } catch (e) {
            status.textContent = `no answer: ${e.message}`;
        }
    }

    tavi = await TaviWeb.connect();
    tavi.on('devStatus', show);
    show(await tavi.devStatus());
    status.textContent = 'ready';
})();
